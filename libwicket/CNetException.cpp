#include "libwicket/CNetException.h"

#include <utility>

namespace wicket {

CNetException::CNetException(int code, std::string text, const char* file, int line)
    : code_(code), text_(std::move(text)), file_(file != nullptr ? file : ""), line_(line)
{
}

std::string CNetException::Message() const
{
    return text_ + ": " + CauseMsg(code_) + " (" + file_ + "(" + std::to_string(line_) + "))";
}

const char* CNetException::CauseMsg(int code)
{
    switch (code) {
        case kNone:
            return "no error";
        case kConnectionFailed:
            return "connection failed";
        case kSocketNotCreated:
            return "socket not created";
        case kRecordRefused:
            return "protocol record refused";
        default:
            return "network error";
    }
}

}  // namespace wicket
