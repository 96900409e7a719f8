// The socket library's exception: a code, a text and where it was thrown.
#pragma once

#include <string>

#include "libkestrel/framework/QXException.h"

namespace wicket {

class CNetException : public kestrel::CFrameworkException {
public:
    enum Cause : int {
        kNone = 0,
        kConnectionFailed = 1,
        kSocketNotCreated = 9,
        kRecordRefused = 10,  // a protocol record that is malformed or too long
    };

    CNetException(int code, std::string text, const char* file, int line);

    [[nodiscard]] int Code() const { return code_; }
    [[nodiscard]] const std::string& Text() const { return text_; }
    [[nodiscard]] const std::string& File() const { return file_; }
    [[nodiscard]] int Line() const { return line_; }
    // "<text>: <cause> (<file>(<line>))"
    [[nodiscard]] std::string Message() const override;

    // The text of a cause code.
    static const char* CauseMsg(int code);

private:
    int code_;
    std::string text_;
    std::string file_;
    int line_;
};

}  // namespace wicket

// Throws a CNetException stamped with the throwing source place.
#define WICKET_THROW_NET(code, text) throw ::wicket::CNetException((code), (text), __FILE__, __LINE__)
