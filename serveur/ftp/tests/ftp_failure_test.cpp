// A server that is down, silent or hung, and settings that cannot work:
// every pass ends in bounded time and no picture is lost on the way.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/ftp/tests/FtpFixture.h"

namespace vorlix::ftp::test {
namespace {

using kestrel::kLevelError;
using kestrel::kLevelTrace;

class FtpFailure : public FtpFixture {};

TEST_F(FtpFailure, ServerDownKeepsPicturesPendingUntilItIsBack)
{
    StartUploader();
    peer_.Stop();
    const std::string one = Detect();
    const std::string two = Detect();
    ASSERT_TRUE(WaitForEvent("      KO ftp connect ("));
    EXPECT_EQ(events_.Lines().front(), "      KO ftp connect (111,Connection refused)");
    EXPECT_TRUE(trace_.Contains("      KO ftp connect (111,Connection refused)", kLevelError));
    EXPECT_TRUE(trace_.Contains("lpszBuffer=", kLevelTrace));
    EXPECT_EQ(uploader_->LastUploaded(), 0);

    peer_.Start();  // same port
    const std::string three = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_3.jpg", three));
    EXPECT_EQ(Remote("vorlix_1.jpg"), one);
    EXPECT_EQ(Remote("vorlix_2.jpg"), two);
    EXPECT_EQ(peer_.CommandsLike("STOR"),
              (std::vector<std::string>{"STOR vorlix_1.jpg", "STOR vorlix_2.jpg", "STOR vorlix_3.jpg"}));
}

TEST_F(FtpFailure, AServerThatNeverGreetsEndsThePassAtTheConnectTimeout)
{
    // The kernel completes the connection; nobody ever answers on it.
    kestrel::UniqueFd silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent.Get(), 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent.Get(), reinterpret_cast<sockaddr*>(&address), &length);

    FtpOptions options = QuickOptions();
    options.timeouts.connect = 1s;
    StartUploader(0, 500, options);
    cam_.SetInt("Port", ntohs(address.sin_port));
    Detect();
    ASSERT_TRUE(WaitForEvent("      KO ftp connect (28,", 6s)) << "the transfer library's time-out";
    EXPECT_EQ(uploader_->LastUploaded(), 0);
}

class FtpHungServer : public FtpFixture {
protected:
    FtpHungServer() : FtpFixture(FtpPeer::Config{"camera", "s3cret", true}) {}
};

TEST_F(FtpHungServer, AStalledUploadEndsAtTheNoProgressTimeoutAndStaysPending)
{
    FtpOptions options = QuickOptions();
    options.timeouts.stall = 1s;
    StartUploader(0, 500, options);
    Detect(8 << 20);  // far more than the socket buffers hold
    ASSERT_TRUE(WaitForEvent("      KO ftp connect (28,", 8s));
    EXPECT_EQ(uploader_->LastUploaded(), 0) << "the picture waits for the next pass";
    EXPECT_EQ(peer_.CommandsLike("STOR").size(), 1U) << "a lost connection brings no retry";
}

TEST_F(FtpFailure, AMissingLocalPictureIsReportedAndTheOthersGo)
{
    StartUploader();
    ++shots_;  // picture 1 was never written
    const std::string two = cam_.WritePicture(2);
    shots_ = 2;
    uploader_->RequestFtpUpload(2, maxJpg_);
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", two));
    const std::string local = cam_.PictureDir() + "/vorlix_1.jpg";
    ASSERT_TRUE(WaitForEvent("      Ftp=vorlix_2.jpg"));
    EXPECT_EQ(events_.Lines().front(), "      KO Ftp=" + local);
    EXPECT_TRUE(trace_.Contains("Error during PutFile (" + local + ")", kLevelError));
    EXPECT_TRUE(peer_.CommandsLike("MKD").empty()) << "the server cannot mend a missing local file";
    EXPECT_EQ(peer_.CommandsLike("STOR"), std::vector<std::string>{"STOR vorlix_2.jpg"});
}

TEST_F(FtpFailure, SettingsThatCannotMakeAConnectionSayWhy)
{
    StartUploader();
    cam_.SetInt("Service", 3);
    Detect();
    ASSERT_TRUE(WaitForEvent("      KO ftp connect (93,"));

    cam_.SetInt("Service", 1);
    cam_.Set("Server", "127.0.0.1/../../etc");
    Detect();
    ASSERT_TRUE(WaitForEvent("      KO ftp connect (22,"));

    cam_.Set("Server", "127.0.0.1");
    cam_.Set("Login", "camera\tDELE vorlix_1.jpg");
    Detect();
    ASSERT_TRUE(kestrel::test::WaitUntil([&] { return CountEvents("      KO ftp connect (22,") == 2; }));
    EXPECT_EQ(peer_.Logins(), 0);
    EXPECT_TRUE(peer_.Commands().empty()) << "nothing was sent for broken settings";
    EXPECT_EQ(uploader_->LastUploaded(), 0);
}

}  // namespace
}  // namespace vorlix::ftp::test
