// The mail section of the settings file: defaults, every key, the scrambled
// password and the values that cannot be used as they are.
#include <gtest/gtest.h>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/mail/MailSettings.h"
#include "serveur/mail/tests/MailTestKit.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix {
namespace {

namespace prof = kestrel::profile;
using kestrel::test::TempDir;

TEST(MailSettings, DefaultsOfAnEmptySection)
{
    TempDir dir;
    const MailSettings s = LoadMailSettings(dir.File("Vorlix.ini"));
    EXPECT_FALSE(s.management);
    EXPECT_FALSE(MailEnabled(dir.File("Vorlix.ini")));
    EXPECT_EQ(s.smtp, "");
    EXPECT_EQ(s.port, 25);
    EXPECT_EQ(s.from, "vorlix@localhost");
    EXPECT_EQ(s.to, "");
    EXPECT_EQ(s.cc, "");
    EXPECT_EQ(s.subject, "Detection mouvement Vorlix");
    EXPECT_FALSE(s.ifjpg);
    EXPECT_EQ(s.sizeMax, 500);
    EXPECT_EQ(s.SizeMaxBytes(), 512000);
    EXPECT_EQ(s.sensibility, 1);
    EXPECT_EQ(s.polling, 86400);
    EXPECT_EQ(s.timeBeforeAnotherMail, 300);
    EXPECT_EQ(s.security, MailSecurity::kNone);
    EXPECT_EQ(s.login, "");
    EXPECT_EQ(s.password, "");
    EXPECT_TRUE(s.verify);
}

TEST(MailSettings, EveryKeyWhateverTheCaseOfTheSection)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix_2.ini");
    test::WriteMailSection(ini, {{"management", "1"},
                                 {"SMTP", "smtp.example.org"},
                                 {"From", "cam@example.org"},
                                 {"To", "a@x;b@y"},
                                 {"CC", "c@z"},
                                 {"Subject", "Garage"},
                                 {"ifjpg", "1"},
                                 {"SizeMax", "0"},
                                 {"Time before another mail", "60"},
                                 {"Security", "1"},
                                 {"Login", "cam"},
                                 {"Verify", "0"}});
    prof::WriteString(ini, "Vorlix Mail", "Port", "2525");
    prof::WriteString(ini, "Vorlix Mail", "Sensibility", "3");
    prof::WriteString(ini, "Vorlix Mail", "Polling", "0");
    ASSERT_TRUE(StoreMailPassword(ini, "s3cret pass"));

    const MailSettings s = LoadMailSettings(ini);
    EXPECT_TRUE(s.management);
    EXPECT_EQ(s.smtp, "smtp.example.org");
    EXPECT_EQ(s.port, 2525);
    EXPECT_EQ(s.from, "cam@example.org");
    EXPECT_EQ(s.to, "a@x;b@y");
    EXPECT_EQ(s.cc, "c@z");
    EXPECT_EQ(s.subject, "Garage");
    EXPECT_TRUE(s.ifjpg);
    EXPECT_EQ(s.sizeMax, 0);
    EXPECT_EQ(s.sensibility, 3);
    EXPECT_EQ(s.polling, 0);
    EXPECT_EQ(s.timeBeforeAnotherMail, 60);
    EXPECT_EQ(s.security, MailSecurity::kStartTls);
    EXPECT_EQ(s.login, "cam");
    EXPECT_EQ(s.password, "s3cret pass");
    EXPECT_FALSE(s.verify);
}

TEST(MailSettings, PasswordIsStoredScrambledUnderItsKeyName)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    ASSERT_TRUE(StoreMailPassword(ini, "hunter2"));
    const std::string stored = prof::GetString(ini, kMailSection, "Password", "");
    EXPECT_EQ(stored.size(), 7U + 3U);
    EXPECT_EQ(stored.find("hunter2"), std::string::npos);
    std::string plain;
    EXPECT_TRUE(UnscramblePassword(stored, "Password", plain));
    EXPECT_EQ(plain, "hunter2");

    // An empty password removes the key.
    ASSERT_TRUE(StoreMailPassword(ini, ""));
    EXPECT_FALSE(prof::Read(ini, kMailSection, "Password").has_value());
    // Too long to scramble: refused, nothing written.
    EXPECT_FALSE(StoreMailPassword(ini, std::string(300, 'p')));
    EXPECT_FALSE(prof::Read(ini, kMailSection, "Password").has_value());
}

TEST(MailSettings, AnUnreadablePasswordIsNoPassword)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    test::WriteMailSection(ini, {{"Password", "plain text typed by hand"}});
    kestrel::test::TraceCapture trace;
    EXPECT_EQ(LoadMailSettings(ini).password, "");
    EXPECT_TRUE(trace.Contains("Mail Password unreadable"));
}

TEST(MailSettings, PortFollowsTheSecurityWhenAbsent)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    test::WriteMailSection(ini, {{"Security", "1"}});
    EXPECT_EQ(LoadMailSettings(ini).port, 587);
    test::WriteMailSection(ini, {{"Security", "2"}});
    EXPECT_EQ(LoadMailSettings(ini).port, 465);
    EXPECT_EQ(LoadMailSettings(ini).security, MailSecurity::kTls);
    test::WriteMailSection(ini, {{"Port", "25"}});
    EXPECT_EQ(LoadMailSettings(ini).port, 25);
}

TEST(MailSettings, UnusableValuesAreReplacedAndTraced)
{
    TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    test::WriteMailSection(ini, {{"Security", "7"}, {"Sensibility", "0"}, {"SMTP", std::string(200, 'h')}});
    kestrel::test::TraceCapture trace;
    const MailSettings s = LoadMailSettings(ini);
    // An unknown security never falls back to plain text.
    EXPECT_EQ(s.security, MailSecurity::kStartTls);
    EXPECT_TRUE(trace.Contains("Mail Security 7 unknown"));
    // Sensibility 0 would make every check active and the thread spin.
    EXPECT_EQ(s.sensibility, 1);
    EXPECT_EQ(s.smtp.size(), kMaxMailHost);
}

}  // namespace
}  // namespace vorlix
