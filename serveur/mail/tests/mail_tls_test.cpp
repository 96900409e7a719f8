// Secure delivery against aiosmtpd with a certificate made by the test:
// STARTTLS with AUTH LOGIN, TLS from the first byte, and a certificate the
// system does not trust refused while "Verify" is 1.
#include <gtest/gtest.h>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/mail/tests/MailTestKit.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;
using kestrel::test::TraceCapture;
using test::Certificate;
using test::MailBench;
using test::PeerOptions;
using test::SmtpPeer;

class MailTls : public ::testing::Test {
protected:
    void SetUp() override
    {
        certificate_ = test::MakeSelfSignedCertificate(bench_.dir.Path());
        ASSERT_FALSE(certificate_.cert.empty()) << "openssl could not make a certificate";
    }

    PeerOptions Options(const std::string& mode) const
    {
        PeerOptions options;
        options.mode = mode;
        options.cert = certificate_.cert;
        options.key = certificate_.key;
        options.login = "camera";
        options.password = "s3cret";
        return options;
    }

    void Send(const SmtpPeer& peer, const std::map<std::string, std::string>& keys, const std::string& password)
    {
        bench_.Configure(peer.Port(), keys);
        ASSERT_TRUE(StoreMailPassword(bench_.ini, password));
        worker_ = bench_.Worker();
        ASSERT_TRUE(worker_->StartMailThread(0));
        worker_->NotifyMailEvent(1);
    }

    MailBench bench_;
    Certificate certificate_;
    std::unique_ptr<MailWorker> worker_;
};

TEST_F(MailTls, StartTlsWithAuthLoginWhenVerifyIsOff)
{
    PeerOptions options = Options("starttls");
    options.exclude = {"PLAIN"};  // leaves LOGIN
    SmtpPeer peer(options);
    ASSERT_TRUE(peer.Ready());
    const std::string picture = bench_.Picture("vorlix_1.jpg", 70000, 5);
    TraceCapture trace;
    Send(peer, {{"Security", "1"}, {"Verify", "0"}, {"Login", "camera"}, {"ifjpg", "1"}}, "s3cret");
    ASSERT_TRUE(peer.WaitForMessages(1));
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.events.Lines()[0],
              "      SendMail (127.0.0.1,to:owner@vorlix.test,sujet:Detection mouvement Vorlix)");
    const test::ReceivedMail mail = peer.Messages().at(0);
    EXPECT_EQ(mail.login, "camera");  // aiosmtpd takes a login only over TLS
    ASSERT_EQ(mail.parts.size(), 2U);
    EXPECT_TRUE(mail.parts[1].payload == picture);
    EXPECT_TRUE(trace.Contains("TLS with 127.0.0.1", kestrel::kLevelUser3));
    EXPECT_TRUE(trace.Contains("not checked (Verify 0)", kestrel::kLevelWarn));
    EXPECT_EQ(trace.Count(Base64Encode("s3cret")), 0);
}

TEST_F(MailTls, AnUntrustedCertificateIsRefusedWhenVerifyIsOn)
{
    SmtpPeer peer(Options("starttls"));
    ASSERT_TRUE(peer.Ready());
    Send(peer, {{"Security", "1"}, {"Login", "camera"}}, "s3cret");  // "Verify" 1 by default
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    const std::string line = bench_.events.Lines()[0];
    EXPECT_TRUE(line.starts_with("      KO SendMail (Mail: Error during TLS handshake (")) << line;
    EXPECT_NE(line.find("The certificate is NOT trusted."), std::string::npos) << line;
    EXPECT_TRUE(peer.Messages().empty());
}

TEST_F(MailTls, TlsFromTheFirstByteWithAuthPlain)
{
    SmtpPeer peer(Options("tls"));
    ASSERT_TRUE(peer.Ready());
    Send(peer, {{"Security", "2"}, {"Verify", "0"}, {"Login", "camera"}}, "s3cret");
    ASSERT_TRUE(peer.WaitForMessages(1));
    EXPECT_EQ(peer.Messages().at(0).login, "camera");
}

TEST_F(MailTls, AWrongPasswordIsAFailureWithTheServersText)
{
    SmtpPeer peer(Options("starttls"));
    ASSERT_TRUE(peer.Ready());
    Send(peer, {{"Security", "1"}, {"Verify", "0"}, {"Login", "camera"}}, "wrong");
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.events.Lines()[0], "      KO SendMail (535 5.7.8 Authentication credentials invalid)");
    EXPECT_TRUE(peer.Messages().empty());
}

TEST_F(MailTls, AServerWithoutStartTlsIsNeverSentTheMailInClear)
{
    SmtpPeer plain;  // offers no STARTTLS
    ASSERT_TRUE(plain.Ready());
    Send(plain, {{"Security", "1"}}, "");
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.events.Lines()[0], "      KO SendMail (Mail: the server offers no STARTTLS)");
    EXPECT_TRUE(plain.Messages().empty());
}

TEST_F(MailTls, AServerSpeakingPlainToATlsClientFailsOnTime)
{
    SmtpPeer plain;
    ASSERT_TRUE(plain.Ready());
    bench_.Configure(plain.Port(), {{"Security", "2"}, {"Verify", "0"}});
    worker_ = bench_.Worker(MailTimings{1000ms, 0ms, 100ms});
    ASSERT_TRUE(worker_->StartMailThread(0));
    worker_->NotifyMailEvent(1);
    ASSERT_TRUE(bench_.events.WaitForCount(1, 5s));
    EXPECT_TRUE(bench_.events.Lines()[0].starts_with("      KO SendMail (Mail: Error during TLS handshake"))
        << bench_.events.Lines()[0];
}

}  // namespace
}  // namespace vorlix
