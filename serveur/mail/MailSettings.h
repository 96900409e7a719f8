// The settings of the mail sender, section "Vorlix MAIL" of the camera's
// settings file, and their defaults.
#pragma once

#include <string>
#include <string_view>

#include "serveur/core/SettingsSections.h"

namespace vorlix {

inline constexpr std::string_view kMailSection = section::kMail;
// Key text of the scrambled "Password" of the section.
inline constexpr std::string_view kMailPasswordKey = "Password";
// Sender address when "From" is absent: the product's own.
inline constexpr std::string_view kDefaultMailFrom = "vorlix@localhost";
inline constexpr std::string_view kDefaultMailSubject = "Detection mouvement Vorlix";
// "SMTP" lives in a fixed field of 128 characters.
inline constexpr std::size_t kMaxMailHost = 127;

enum class MailSecurity : int {
    kNone = 0,      // plain SMTP
    kStartTls = 1,  // plain greeting, then STARTTLS
    kTls = 2,       // TLS from the first byte
};

struct MailSettings {
    bool management = false;  // "management": mail enabled
    std::string smtp;         // "SMTP": host name or address
    int port = 25;            // "Port": 25, or 587 / 465 with Security 1 / 2 when absent
    std::string from{kDefaultMailFrom};
    std::string to;  // "To": recipients separated by ";"
    std::string cc;  // "CC": further recipients separated by ";"
    std::string subject{kDefaultMailSubject};
    bool ifjpg = false;                           // "ifjpg": attach the pictures
    int sizeMax = 500;                            // "SizeMax": KiB of attachments in one mail
    int sensibility = 1;                          // "Sensibility": events in one check period that make it active
    int polling = 86400;                          // "Polling": seconds of quiet before a periodic mail
    int timeBeforeAnotherMail = 300;              // "Time before another mail": seconds
    MailSecurity security = MailSecurity::kNone;  // "Security"
    std::string login;                            // "Login": empty = no authentication
    std::string password;                         // "Password", plain text (stored scrambled)
    bool verify = true;                           // "Verify": check the server's certificate and name

    // The attachment limit in bytes.
    [[nodiscard]] long long SizeMaxBytes() const { return static_cast<long long>(sizeMax) * 1024; }
};

// Whether "management" of the section is non-zero.
bool MailEnabled(const std::string& settingsFile);

// Every key of the section, with the defaults above; unusable numbers are
// traced and replaced by the nearest sound value.
MailSettings LoadMailSettings(const std::string& settingsFile);

// Stores `plain` scrambled under "Password" (an empty text removes the key).
// False when the text is too long to scramble or the file cannot be written.
bool StoreMailPassword(const std::string& settingsFile, std::string_view plain);

}  // namespace vorlix
