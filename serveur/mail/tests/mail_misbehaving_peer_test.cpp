// Servers that do not behave like aiosmtpd, played by a scripted TCP peer:
// a greeting in pieces, a greeting without "220", refusals, silence.
#include <gtest/gtest.h>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/mail/tests/MailTestKit.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using kestrel::test::TraceCapture;
using kestrel::test::WaitUntil;
using test::MailBench;
using test::ScriptedPeer;

// Answers one SMTP dialogue the way a small server does, from the line after
// the greeting on; `rcptReply` and `dataEndReply` can refuse.
void Serve(ScriptedPeer::Connection& c, const std::string& rcptReply = "250 ok\r\n",
           const std::string& dataEndReply = "250 queued\r\n")
{
    for (;;) {
        const std::optional<std::string> line = c.ReadLine();
        if (!line) {
            return;
        }
        if (line->starts_with("HELO") || line->starts_with("MAIL")) {
            c.Send("250 ok\r\n");
        } else if (line->starts_with("RCPT")) {
            c.Send(rcptReply);
        } else if (line->starts_with("DATA")) {
            c.Send("354 go ahead\r\n");
            for (std::optional<std::string> data = c.ReadLine(); data != "."; data = c.ReadLine()) {
                if (!data) {
                    return;
                }
            }
            c.Send(dataEndReply);
        } else if (line->starts_with("QUIT")) {
            c.Send("221 bye\r\n");
            return;
        } else {
            return;  // an unknown command ends the script
        }
    }
}

class MisbehavingPeer : public ::testing::Test {
protected:
    std::unique_ptr<MailWorker> Run(int port, MailTimings timings = test::kQuickTimings)
    {
        bench_.Configure(port);
        auto worker = bench_.Worker(timings);
        EXPECT_TRUE(worker->StartMailThread(0));
        worker->NotifyMailEvent(1);
        return worker;
    }

    MailBench bench_;
};

TEST_F(MisbehavingPeer, AGreetingInSeveralPiecesIsReadUntilItsEnd)
{
    ScriptedPeer peer([](ScriptedPeer::Connection& c) {
        c.Send("22");
        std::this_thread::sleep_for(30ms);
        c.Send("0-mail.vorlix.test ESMTP\r\n220-some");
        std::this_thread::sleep_for(30ms);
        c.Send(" more words\r\n220 ready\r");
        std::this_thread::sleep_for(30ms);
        c.Send("\n");
        Serve(c);
    });
    auto worker = Run(peer.Port());
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.events.Lines()[0],
              "      SendMail (127.0.0.1,to:owner@vorlix.test,sujet:Detection mouvement Vorlix)");
    worker->StopMailThread();
    const std::vector<std::string> lines = peer.Lines();
    ASSERT_GE(lines.size(), 5U);
    // Each command met its own reply: the rest of the greeting was not taken for one.
    EXPECT_EQ(lines[0], "HELO server ");
    EXPECT_EQ(lines[1], "MAIL FROM: <cam@vorlix.test>");
    EXPECT_EQ(lines[2], "RCPT TO: <owner@vorlix.test>");
    EXPECT_EQ(lines[3], "DATA ");
    EXPECT_TRUE(lines[4].starts_with("Date: "));
    EXPECT_EQ(lines.back(), "QUIT ");
}

TEST_F(MisbehavingPeer, AGreetingWithout220ThenSilenceEndsThePassAtTheReplyTime)
{
    std::atomic<bool> closed{false};
    ScriptedPeer peer([&](ScriptedPeer::Connection& c) {
        c.Send("hello, I am no mail server\r\n");
        closed = c.WaitClosed(10s);
    });
    TraceCapture trace;
    const auto start = std::chrono::steady_clock::now();
    auto worker = Run(peer.Port(), MailTimings{400ms, 0ms, 100ms});
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(bench_.events.Lines()[0], "      KO SendMail (Mail: Error during SockAvailReadMs)");
    EXPECT_GE(took, 400ms);
    EXPECT_TRUE(trace.Contains("Error on SendMail(", kestrel::kLevelWarn));
    EXPECT_TRUE(trace.Contains("Catch mail : Mail: Error during SockAvailReadMs", kestrel::kLevelWarn));
    EXPECT_EQ(trace.Count("SendMail(127.0.0.1,to:"), 0);  // no summary line
    // The connection that failed part-way is closed.
    EXPECT_TRUE(WaitUntil([&] { return closed.load(); }));
    EXPECT_EQ(worker->FirstPictureNumber(), 1);
}

TEST_F(MisbehavingPeer, RecipientRefusedIsAFailureWithTheServersText)
{
    std::atomic<bool> closed{false};
    ScriptedPeer peer([&](ScriptedPeer::Connection& c) {
        c.Send("220 ready\r\n");
        Serve(c, "550 5.1.1 <owner@vorlix.test>: Recipient address rejected\r\n");
        closed = c.WaitClosed(10s);
    });
    auto worker = Run(peer.Port());
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(
        bench_.events.Lines(),
        (std::vector<std::string>{"      KO SendMail (550 5.1.1 <owner@vorlix.test>: Recipient address rejected)"}));
    EXPECT_TRUE(WaitUntil([&] { return closed.load(); }));
    for (const std::string& line : peer.Lines()) {
        EXPECT_NE(line, "DATA ");  // nothing is sent after the refusal
    }
}

TEST_F(MisbehavingPeer, AMessageRefusedAtTheEndOfItsDataIsAFailure)
{
    ScriptedPeer peer([](ScriptedPeer::Connection& c) {
        c.Send("220 ready\r\n");
        Serve(c, "250 ok\r\n", "452 4.3.1 Insufficient system storage\r\n");
    });
    auto worker = Run(peer.Port());
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.events.Lines()[0], "      KO SendMail (452 4.3.1 Insufficient system storage)");
}

TEST_F(MisbehavingPeer, AGreetingThatRefusesEndsAtOnce)
{
    ScriptedPeer peer([](ScriptedPeer::Connection& c) {
        c.Send("554 5.3.2 no service for you (rule 220)\r\n");  // a refusal, whatever its words
        c.WaitClosed(10s);
    });
    auto worker = Run(peer.Port(), MailTimings{10000ms, 0ms, 100ms});
    ASSERT_TRUE(bench_.events.WaitForCount(1, 5s));
    EXPECT_EQ(bench_.events.Lines()[0], "      KO SendMail (554 5.3.2 no service for you (rule 220))");
}

TEST_F(MisbehavingPeer, AClosedConnectionAndARefusedOneAreFailures)
{
    ScriptedPeer hangsUp([](ScriptedPeer::Connection& c) { c.Send("220 ready\r\n"); });
    auto worker = Run(hangsUp.Port());
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.events.Lines()[0], "      KO SendMail (Mail: Error during recv)");
    worker->StopMailThread();

    int unused = 0;
    {
        ScriptedPeer gone([](ScriptedPeer::Connection&) {}, 0);
        unused = gone.Port();
    }
    MailBench other;
    other.Configure(unused);
    auto second = other.Worker();
    ASSERT_TRUE(second->StartMailThread(0));
    second->NotifyMailEvent(1);
    ASSERT_TRUE(other.events.WaitForCount(1));
    EXPECT_EQ(other.events.Lines()[0], "      KO SendMail (Connect to SMTP KO)");
}

}  // namespace
}  // namespace vorlix
