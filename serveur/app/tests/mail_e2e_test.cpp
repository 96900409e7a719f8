// The mail sender inside the running program: an event mail with the
// detection pictures and the events history reaches a real SMTP server, and
// a reload with mail unticked stops the sender, ticked again starts it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "libkestrel/profile/Profile.h"
#include "serveur/app/WorkerTimings.h"
#include "serveur/app/tests/ServerBench.h"
#include "serveur/mail/tests/MailTestKit.h"

namespace {

using namespace std::chrono_literals;
using vorlix::app::testing::ServerBench;
using vorlix::test::ReceivedMail;
using vorlix::test::SmtpPeer;

// The mail thread checks every 300 ms instead of every 30 s.
class MailInTheProgram : public ::testing::Test {
protected:
    void SetUp() override { ::setenv(vorlix::app::kMailCheckVariable, "300", 1); }
    void TearDown() override { ::unsetenv(vorlix::app::kMailCheckVariable); }
};

TEST_F(MailInTheProgram, AnEventMailCarriesThePicturesAndTheHistoryAndATickBoxReloadStopsAndStartsTheSender)
{
    SmtpPeer peer;
    ASSERT_TRUE(peer.Ready());
    ServerBench bench;
    vorlix::test::WriteMailSection(bench.ini, {{"management", "1"},
                                               {"SMTP", "127.0.0.1"},
                                               {"Port", std::to_string(peer.Port())},
                                               {"From", "cam@vorlix.test"},
                                               {"To", "owner@vorlix.test"},
                                               {"ifjpg", "1"},
                                               {"Time before another mail", "1"}});
    bench.Start();

    ASSERT_TRUE(peer.WaitForMessages(1, 20s)) << bench.Trace();
    const ReceivedMail mail = peer.Messages().front();
    EXPECT_TRUE(mail.defects.empty()) << mail.defects;
    EXPECT_EQ(mail.rcpt, (std::vector<std::string>{"owner@vorlix.test"}));
    ASSERT_FALSE(mail.parts.empty());
    EXPECT_EQ(mail.parts.front().type, "text/plain");
    EXPECT_NE(mail.parts.front().payload.find(std::string(ServerBench::kEventEntry)), std::string::npos)
        << "the body holds the events history:\n"
        << mail.parts.front().payload;
    int pictures = 0;
    for (const ReceivedMail::Part& part : mail.parts) {
        if (part.type == "image/jpeg") {
            ++pictures;
            EXPECT_EQ(part.payload, bench.Picture(part.filename)) << part.filename;
        }
    }
    EXPECT_GE(pictures, 1) << "an event mail carries the event's pictures";
    EXPECT_TRUE(bench.WaitForTrace("Events:       SendMail (127.0.0.1,to:owner@vorlix.test")) << bench.Trace();

    vorlix::test::WriteMailSection(bench.ini, {{"management", "0"}});
    bench.Reload();
    // The trace drops a line that comes while another thread's line is being
    // written: a wait for one line ends at the line or at its deadline, and
    // the mails are the proof.
    bench.WaitForTrace("Thread client mail stop");
    // A mail already on its way when the stop came may still arrive.
    const std::size_t sent = peer.Messages().size();
    const auto stopped = std::chrono::steady_clock::now();
    const int events = bench.CountTrace(ServerBench::kEventEntry);
    // Several check periods full of events. Every active check renews the
    // time of the last one, so with events flowing the restarted sender mails
    // at once only when more than "Time before another mail" (1 s, counted in
    // whole seconds) lies between the old sender's last check and its first.
    ASSERT_TRUE(kestrel::test::WaitUntil(
        [&] {
            return std::chrono::steady_clock::now() - stopped > 2500ms &&
                   bench.CountTrace(ServerBench::kEventEntry) >= events + 5;
        },
        15s, 50ms));
    EXPECT_EQ(peer.Messages().size(), sent) << "no mail while mail is unticked";

    vorlix::test::WriteMailSection(bench.ini, {{"management", "1"}});
    bench.Reload();
    EXPECT_TRUE(peer.WaitForMessages(sent + 1, 20s)) << "ticked again, the next event is mailed\n" << bench.Trace();

    EXPECT_EQ(bench.Stop(), 0) << bench.Trace();
}

}  // namespace
