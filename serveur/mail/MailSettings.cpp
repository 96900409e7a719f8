#include "serveur/mail/MailSettings.h"

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix {

namespace prof = kestrel::profile;

namespace {
constexpr int kAbsent = 98657;

int DefaultPort(MailSecurity security)
{
    switch (security) {
        case MailSecurity::kStartTls:
            return 587;
        case MailSecurity::kTls:
            return 465;
        case MailSecurity::kNone:
            break;
    }
    return 25;
}
}  // namespace

bool MailEnabled(const std::string& settingsFile)
{
    return prof::GetInt(settingsFile, kMailSection, "management", 0) != 0;
}

MailSettings LoadMailSettings(const std::string& settingsFile)
{
    const std::string& f = settingsFile;
    MailSettings s;
    s.management = MailEnabled(f);
    s.smtp = prof::GetString(f, kMailSection, "SMTP", "", kMaxMailHost);
    s.from = prof::GetString(f, kMailSection, "From", kDefaultMailFrom);
    s.to = prof::GetString(f, kMailSection, "To", "");
    s.cc = prof::GetString(f, kMailSection, "CC", "");
    s.subject = prof::GetString(f, kMailSection, "Subject", kDefaultMailSubject);
    s.ifjpg = prof::GetInt(f, kMailSection, "ifjpg", 0) != 0;
    s.sizeMax = prof::GetInt(f, kMailSection, "SizeMax", 500);
    s.sensibility = prof::GetInt(f, kMailSection, "Sensibility", 1);
    if (s.sensibility < 1) {
        // Below 1 every check would count as active and the thread would never sleep.
        TRACE_WARN("Mail Sensibility %d taken as 1", s.sensibility);
        s.sensibility = 1;
    }
    s.polling = prof::GetInt(f, kMailSection, "Polling", 86400);
    s.timeBeforeAnotherMail = prof::GetInt(f, kMailSection, "Time before another mail", 300);

    const int security = prof::GetInt(f, kMailSection, "Security", 0);
    if (security >= 0 && security <= 2) {
        s.security = static_cast<MailSecurity>(security);
    } else {
        // Never fall back to plain text for a value meant to be secure.
        TRACE_WARN("Mail Security %d unknown, taken as 1 (STARTTLS)", security);
        s.security = MailSecurity::kStartTls;
    }
    const int port = prof::GetInt(f, kMailSection, "Port", kAbsent);
    s.port = port == kAbsent ? DefaultPort(s.security) : port;
    s.login = prof::GetString(f, kMailSection, "Login", "");
    const std::string scrambled = prof::GetString(f, kMailSection, kMailPasswordKey, "");
    if (!scrambled.empty() && !UnscramblePassword(scrambled, kMailPasswordKey, s.password)) {
        TRACE_WARN("Mail Password unreadable, no password");
        s.password.clear();
    }
    s.verify = prof::GetInt(f, kMailSection, "Verify", 1) != 0;
    return s;
}

bool StoreMailPassword(const std::string& settingsFile, std::string_view plain)
{
    if (plain.empty()) {
        return prof::DeleteKey(settingsFile, kMailSection, kMailPasswordKey);
    }
    std::string scrambled;
    if (!ScramblePassword(plain, kMailPasswordKey, scrambled)) {
        return false;
    }
    return prof::WriteString(settingsFile, kMailSection, kMailPasswordKey, scrambled);
}

}  // namespace vorlix
