// Event and periodic mails delivered to a real SMTP server (aiosmtpd on
// 127.0.0.1), each message parsed by Python's email package.
#include <gtest/gtest.h>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/mail/tests/MailTestKit.h"

namespace vorlix {
namespace {

using test::MailBench;
using test::ReceivedMail;
using test::SmtpPeer;

constexpr std::string_view kBodyHead = "Mail provenant de Vorlix suite aux \xE9v\xE9nements suivants :\r\n";

class MailDelivery : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer_.Ready()) << "aiosmtpd did not start"; }

    // One event mail for `events` detections after shot counter `from`.
    void Detect(MailWorker& worker, int from, int events)
    {
        for (int shots = from + 1; shots <= from + events; ++shots) {
            worker.NotifyMailEvent(shots);
        }
    }

    SmtpPeer peer_;
    MailBench bench_;
};

TEST_F(MailDelivery, EventMailCarriesThreePicturesByteForByte)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "1"}, {"Subject", "Garage"}});
    const std::string p1 = bench_.Picture("vorlix_1.jpg", 30000, 1);
    const std::string p2 = bench_.Picture("vorlix_2.jpg", 257, 2);
    const std::string p3 = bench_.Picture("vorlix_3.jpg", 4095 * 3 + 1, 3);
    auto worker = bench_.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 3);

    ASSERT_TRUE(peer_.WaitForMessages(1));
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    const std::vector<ReceivedMail> mails = peer_.Messages();
    ASSERT_EQ(mails.size(), 1U);
    const ReceivedMail& mail = mails[0];
    EXPECT_EQ(mail.defects, "");
    EXPECT_EQ(mail.mailFrom, "cam@vorlix.test");
    EXPECT_EQ(mail.rcpt, (std::vector<std::string>{"owner@vorlix.test"}));
    EXPECT_EQ(mail.Header("From"), "cam@vorlix.test");
    EXPECT_EQ(mail.Header("To"), "owner@vorlix.test");
    EXPECT_EQ(mail.HeaderCount("CC"), 0);
    EXPECT_EQ(mail.Header("Subject"), "Garage");
    EXPECT_EQ(mail.Header("MIME-Version"), "1.0");
    EXPECT_FALSE(mail.Header("Date").empty());
    EXPECT_TRUE(mail.Header("Content-Type").starts_with("multipart/mixed; boundary=\"-----"));

    ASSERT_EQ(mail.parts.size(), 4U);
    EXPECT_EQ(mail.parts[0].type, "text/plain");
    EXPECT_EQ(mail.parts[0].charset, "iso-8859-1");
    EXPECT_EQ(mail.parts[0].payload, std::string(kBodyHead) + bench_.history + "\r\n");
    const std::string expected[] = {p1, p2, p3};
    for (int i = 0; i < 3; ++i) {
        const ReceivedMail::Part& part = mail.parts[static_cast<std::size_t>(i) + 1];
        EXPECT_EQ(part.type, "image/jpeg");
        EXPECT_EQ(part.filename, "vorlix_" + std::to_string(i + 1) + ".jpg");
        EXPECT_TRUE(part.payload == expected[i]) << part.filename << " differs";
    }
    // The next event mail starts after these pictures.
    EXPECT_EQ(worker->FirstPictureNumber(), 3);
    EXPECT_EQ(bench_.events.Lines(),
              (std::vector<std::string>{"      SendMail (127.0.0.1,to:owner@vorlix.test,sujet:Garage)"}));
}

TEST_F(MailDelivery, TwoToAndOneCcGiveThreeConnectionsWithTheWholeHeaders)
{
    bench_.Configure(peer_.Port(), {{"To", "a@vorlix.test;b@vorlix.test"}, {"CC", "c@vorlix.test"}});
    auto worker = bench_.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 1);

    ASSERT_TRUE(peer_.WaitForMessages(3));
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    const std::vector<ReceivedMail> mails = peer_.Messages();
    ASSERT_EQ(mails.size(), 3U);
    const char* const order[] = {"a@vorlix.test", "b@vorlix.test", "c@vorlix.test"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(mails[i].rcpt, (std::vector<std::string>{order[i]}));
        EXPECT_EQ(mails[i].Header("To"), "a@vorlix.test;b@vorlix.test");
        EXPECT_EQ(mails[i].Header("CC"), "c@vorlix.test");
        EXPECT_EQ(mails[i].parts.size(), 1U);  // "ifjpg" 0
    }
    EXPECT_EQ(bench_.EventLines("SendMail (").size(), 1U);
}

TEST_F(MailDelivery, WithoutIfjpgOnlyTheTextPartGoes)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "0"}});
    bench_.Picture("vorlix_1.jpg", 1000, 1);
    auto worker = bench_.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 1);
    ASSERT_TRUE(peer_.WaitForMessages(1));
    const ReceivedMail mail = peer_.Messages().at(0);
    ASSERT_EQ(mail.parts.size(), 1U);
    EXPECT_EQ(mail.parts[0].type, "text/plain");
    EXPECT_EQ(mail.raw.find("image/jpeg"), std::string::npos);
}

TEST_F(MailDelivery, SizeMaxZeroSendsTheFirstPictureThenTheNote)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "1"}, {"SizeMax", "0"}});
    const std::string first = bench_.Picture("vorlix_1.jpg", 500, 1);
    bench_.Picture("vorlix_2.jpg", 500, 2);
    bench_.Picture("vorlix_3.jpg", 500, 3);
    auto worker = bench_.Worker();
    kestrel::test::TraceCapture trace;
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 3);
    ASSERT_TRUE(peer_.WaitForMessages(1));
    const ReceivedMail mail = peer_.Messages().at(0);
    ASSERT_EQ(mail.parts.size(), 3U);
    EXPECT_EQ(mail.parts[1].filename, "vorlix_1.jpg");
    EXPECT_TRUE(mail.parts[1].payload == first);
    EXPECT_EQ(mail.parts[2].type, "text/plain");
    EXPECT_EQ(mail.parts[2].payload, "sizemax atteint (de 2 a 3)");  // the last CR LF belongs to the boundary
    EXPECT_TRUE(trace.Contains("sizemax atteint (de 2 a 3)", kestrel::kLevelWarn));
}

TEST_F(MailDelivery, PollingZeroMailsLastJpgEveryQuietPeriod)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "1"}, {"Polling", "0"}});
    const std::string last = bench_.Picture("last.jpg", 2000, 9);
    bench_.Picture("vorlix_0.jpg", 100, 1);
    auto worker = bench_.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    ASSERT_TRUE(peer_.WaitForMessages(2));
    worker->StopMailThread();
    for (const ReceivedMail& mail : peer_.Messages()) {
        ASSERT_EQ(mail.parts.size(), 2U);
        EXPECT_EQ(mail.parts[1].filename, "last.jpg");
        EXPECT_TRUE(mail.parts[1].payload == last);
    }
}

TEST_F(MailDelivery, OneTwoAndFiftyFourBytePicturesAsBase64OnTheWire)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "1"}});
    const std::string one = bench_.Picture("vorlix_1.jpg", 1, 1);
    const std::string two = bench_.Picture("vorlix_2.jpg", 2, 2);
    const std::string many = bench_.Picture("vorlix_3.jpg", 54, 3);
    auto worker = bench_.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 3);
    ASSERT_TRUE(peer_.WaitForMessages(1));
    const ReceivedMail mail = peer_.Messages().at(0);
    ASSERT_EQ(mail.parts.size(), 4U);
    EXPECT_TRUE(mail.parts[1].payload == one);
    EXPECT_TRUE(mail.parts[2].payload == two);
    EXPECT_TRUE(mail.parts[3].payload == many);
    // On the wire: "xx==", "xxx=", and one full line of 72 ending in CR LF; the
    // last picture is followed straight by the closing boundary, so its third
    // CR LF is the line end of the split text.
    const std::string tail = "\"\r\n\r\n";
    EXPECT_NE(mail.raw.find("vorlix_1.jpg" + tail + Base64Encode(one) + "\r\n\r\n\r\n--"), std::string::npos);
    EXPECT_NE(mail.raw.find("vorlix_2.jpg" + tail + Base64Encode(two) + "\r\n\r\n\r\n--"), std::string::npos);
    EXPECT_NE(mail.raw.find("vorlix_3.jpg" + tail + Base64Encode(many) + "\r\n\r\n\r\n--"), std::string::npos);
    EXPECT_EQ(Base64Encode(one).size(), 4U);
    EXPECT_EQ(Base64Encode(one).substr(2), "==");
    EXPECT_EQ(Base64Encode(two).substr(3), "=");
}

TEST_F(MailDelivery, HistoryLinesStartingWithADotArriveWhole)
{
    bench_.Configure(peer_.Port());
    bench_.history = ".\r\n.. two dots\r\nlast line\r\n";
    auto worker = bench_.Worker();
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 1);
    ASSERT_TRUE(peer_.WaitForMessages(1));
    ASSERT_TRUE(bench_.events.WaitForCount(1));
    EXPECT_EQ(bench_.EventLines("KO").size(), 0U);
    const ReceivedMail mail = peer_.Messages().at(0);
    ASSERT_EQ(mail.parts.size(), 1U);
    // Without pictures the closing boundary follows: its CR LF ends the text.
    EXPECT_EQ(mail.parts[0].payload, std::string(kBodyHead) + bench_.history);
}

TEST_F(MailDelivery, PicturesOlderThanOneTurnOfTheRingAreNotSentTwice)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "1"}});
    for (int n = 0; n < 3; ++n) {
        bench_.Picture("vorlix_" + std::to_string(n) + ".jpg", 100, static_cast<unsigned>(n));
    }
    auto worker = bench_.Worker(test::kQuickTimings, 3);
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 5);  // pictures 1..5 in a ring of 3: slots 1 and 2 hold pictures 4 and 5
    ASSERT_TRUE(peer_.WaitForMessages(1));
    const ReceivedMail mail = peer_.Messages().at(0);
    std::vector<std::string> names;
    for (std::size_t i = 1; i < mail.parts.size(); ++i) {
        names.push_back(mail.parts[i].filename);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"vorlix_0.jpg", "vorlix_1.jpg", "vorlix_2.jpg"}));
}

TEST_F(MailDelivery, AMissingFirstPictureAbortsTheAttachmentsButTheMailGoes)
{
    bench_.Configure(peer_.Port(), {{"ifjpg", "1"}});
    bench_.Picture("vorlix_2.jpg", 100, 2);
    auto worker = bench_.Worker();
    kestrel::test::TraceCapture trace;
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 2);
    ASSERT_TRUE(peer_.WaitForMessages(1));
    EXPECT_EQ(peer_.Messages().at(0).parts.size(), 1U);
    EXPECT_TRUE(trace.Contains("access file (" + bench_.pictures + "/vorlix_1.jpg)", kestrel::kLevelWarn));
    EXPECT_TRUE(trace.Contains("jpg aborted (from 2 to 2)", kestrel::kLevelWarn));
}

TEST_F(MailDelivery, LoginOnAPlainConnectionUsesAuthPlain)
{
    test::PeerOptions options;
    options.login = "camera";
    options.password = "pa:ss word";
    SmtpPeer guarded(options);
    ASSERT_TRUE(guarded.Ready());
    bench_.Configure(guarded.Port(), {{"Login", "camera"}});
    ASSERT_TRUE(StoreMailPassword(bench_.ini, "pa:ss word"));
    auto worker = bench_.Worker();
    kestrel::test::TraceCapture trace;
    ASSERT_TRUE(worker->StartMailThread(0));
    Detect(*worker, 0, 1);
    ASSERT_TRUE(guarded.WaitForMessages(1));
    EXPECT_EQ(guarded.Messages().at(0).login, "camera");
    EXPECT_TRUE(trace.Contains("login to 127.0.0.1 sent without TLS", kestrel::kLevelWarn));
    // The credentials never reach the trace.
    const std::string token = AuthPlainCommand("camera", "pa:ss word").substr(11, 20);
    EXPECT_EQ(trace.Count(token), 0);
    EXPECT_GE(trace.Count("(credentials)"), 1);
}

}  // namespace
}  // namespace vorlix
