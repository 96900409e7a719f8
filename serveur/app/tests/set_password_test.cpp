// "vorlix --set-password": the password read from a pipe, checked, scrambled
// into the settings file and read back as the server reads it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/framework/UniqueFile.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/SetPassword.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::app {
namespace {

namespace prof = kestrel::profile;

// A pipe holding `bytes`, its write end closed: standard input that is not a terminal.
class PipedInput {
public:
    explicit PipedInput(const std::string& bytes)
    {
        int fds[2] = {-1, -1};
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read_.Reset(fds[0]);
            const kestrel::UniqueFd write(fds[1]);  // closed at once: the reader sees the end
            const ssize_t written = ::write(write.Get(), bytes.data(), bytes.size());
            ok_ = written == static_cast<ssize_t>(bytes.size());
        }
    }
    [[nodiscard]] int Fd() const { return read_.Get(); }
    [[nodiscard]] bool Ok() const { return ok_; }

private:
    kestrel::UniqueFd read_;
    bool ok_ = false;
};

std::string StoredPassword(const std::string& ini)
{
    std::string plain;
    const std::string stored = prof::GetString(ini, "Vorlix", "Authentification client", "");
    if (stored.empty() || !UnscramblePassword(stored, "Authentification client", plain)) {
        return "<unreadable>";
    }
    return plain;
}

TEST(SetPassword, PipedLineIsWrittenScrambledForTheChosenCamera)
{
    kestrel::test::TempDir dir;
    for (const std::string& password :
         {std::string("secret"), std::string("with blanks = and ; signs \"#[]~"), std::string(252, 'x')}) {
        PipedInput in(password + "\r\n");
        ASSERT_TRUE(in.Ok());
        kestrel::UniqueFile sink(std::tmpfile());
        EXPECT_EQ(RunSetPassword(3, dir.Path(), in.Fd(), sink.get(), sink.get()), 0) << password;
        sink.reset();
        const std::string ini = dir.File("Vorlix_3.ini");
        EXPECT_NE(prof::GetString(ini, "Vorlix", "Authentification client", ""), password);  // not in the clear
        EXPECT_EQ(StoredPassword(ini), password);
    }
    EXPECT_TRUE(dir.Read("Vorlix.ini").empty());  // camera 0 untouched
}

TEST(SetPassword, EmptyLineRemovesThePasswordAndOtherKeysStay)
{
    kestrel::test::TempDir dir;
    const std::string ini = dir.File("Vorlix.ini");
    prof::WriteInt(ini, "Vorlix", "Port Web client", 7000);
    std::string why;
    ASSERT_TRUE(StorePassword(ini, "old", why)) << why;
    PipedInput in("\n");
    kestrel::UniqueFile sink(std::tmpfile());
    EXPECT_EQ(RunSetPassword(0, dir.Path(), in.Fd(), sink.get(), sink.get()), 0);
    sink.reset();
    EXPECT_EQ(prof::GetString(ini, "Vorlix", "Authentification client", "?"), "");
    EXPECT_EQ(prof::GetInt(ini, "Vorlix", "Port Web client", 0), 7000);
}

TEST(SetPassword, RefusalsLeaveTheStoredPasswordAlone)
{
    kestrel::test::TempDir dir;
    const std::string ini = dir.File("Vorlix_1.ini");
    std::string why;
    ASSERT_TRUE(StorePassword(ini, "kept", why)) << why;
    const auto run = [&](const std::string& input, int camera = 1) {
        PipedInput in(input);
        kestrel::UniqueFile sink(std::tmpfile());
        const int code = RunSetPassword(camera, dir.Path(), in.Fd(), sink.get(), sink.get());
        sink.reset();
        return code;
    };
    EXPECT_EQ(run(""), 1);                            // nothing on standard input
    EXPECT_EQ(run(std::string(253, 'y') + "\n"), 1);  // longer than the scrambler takes
    EXPECT_EQ(run(std::string(5000, 'y')), 1);        // a stream without a line end, cut
    EXPECT_EQ(run("tab\there\n"), 1);                 // control characters do not survive
    EXPECT_EQ(run("\xC3\xA9t\xC3\xA9\n"), 1);         // nor bytes beyond ASCII
    EXPECT_EQ(run("x\n", 7), 2);
    EXPECT_EQ(StoredPassword(ini), "kept");
    EXPECT_FALSE(StorePassword(dir.Path() + "/no_dir/Vorlix.ini", "a", why));
    EXPECT_NE(why.find("cannot write"), std::string::npos) << why;
}

}  // namespace
}  // namespace vorlix::app
