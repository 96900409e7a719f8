// The exception family of the libraries: a framework base class and the
// tools library's own exceptions carrying a code, a text and where they were
// thrown.
#pragma once

#include <cstddef>
#include <exception>
#include <string>

namespace kestrel {

// Base of every exception the libraries throw (the framework's exception).
class CFrameworkException : public std::exception {
public:
    // Copies the message into `out` (at most `size` bytes including the
    // terminating zero); returns false when there is no message.
    virtual bool GetErrorMessage(char* out, std::size_t size) const;
    [[nodiscard]] virtual std::string Message() const = 0;
    [[nodiscard]] const char* what() const noexcept override;

private:
    mutable std::string what_;
};

// The tools library's own exception class; `QXExceptionError` recognises it.
class CQXException : public CFrameworkException {
public:
    CQXException(int code, std::string text, const char* file, int line);

    [[nodiscard]] int Code() const { return code_; }
    [[nodiscard]] const std::string& Text() const { return text_; }
    [[nodiscard]] const std::string& File() const { return file_; }
    [[nodiscard]] int Line() const { return line_; }
    // "<text> (code <n>, <file>(<line>))"
    [[nodiscard]] std::string Message() const override;

private:
    int code_;
    std::string text_;
    std::string file_;
    int line_;
};

class CGeneralException : public CQXException {
public:
    using CQXException::CQXException;
};

}  // namespace kestrel

// Throws a CGeneralException stamped with the throwing source place.
#define KESTREL_THROW_GENERAL(code, text) throw ::kestrel::CGeneralException((code), (text), __FILE__, __LINE__)
