// The one failure type of the mail room: a text that ends the mail pass in
// progress and is shown to the user as "KO SendMail (<text>)".
#pragma once

#include <stdexcept>
#include <string>

namespace vorlix {

class MailError : public std::runtime_error {
public:
    explicit MailError(const std::string& text) : std::runtime_error(text) {}
};

// Texts of the failures a user meets most.
inline constexpr const char* kConnectFailed = "Connect to SMTP KO";
inline constexpr const char* kWaitFailed = "Mail: Error during SockAvailReadMs";
inline constexpr const char* kRecvFailed = "Mail: Error during recv";
inline constexpr const char* kWriteFailed = "Mail: Error during write";
inline constexpr const char* kStopped = "Mail: stopped";

}  // namespace vorlix
