#include "libkestrel/framework/QXException.h"

#include <algorithm>
#include <cstring>

#include "libkestrel/error/QXError.h"

namespace kestrel {

bool CFrameworkException::GetErrorMessage(char* out, std::size_t size) const
{
    if (out == nullptr || size == 0) {
        return false;
    }
    const std::string message = Message();
    const std::size_t n = std::min(message.size(), size - 1);
    std::memcpy(out, message.data(), n);
    out[n] = '\0';
    return !message.empty();
}

const char* CFrameworkException::what() const noexcept
{
    try {
        what_ = Message();
    } catch (...) {
        return "exception";
    }
    return what_.c_str();
}

CQXException::CQXException(int code, std::string text, const char* file, int line)
    : code_(code), text_(std::move(text)), file_(file != nullptr ? QXBasename(file) : ""), line_(line)
{
}

std::string CQXException::Message() const
{
    std::string message = text_;
    message += " (code ";
    message += std::to_string(code_);
    if (!file_.empty()) {
        message += ", ";
        message += file_;
        message += "(";
        message += std::to_string(line_);
        message += ")";
    }
    message += ")";
    return message;
}

}  // namespace kestrel
