// Uploads to a real FTP server: what arrives, under which names, over how
// many connections, and what the events window and the trace say.
#include <gtest/gtest.h>

#include <cstdlib>

#include "serveur/ftp/tests/FtpFixture.h"

namespace vorlix::ftp::test {
namespace {

using kestrel::kLevelError;
using kestrel::kLevelTrace;

class FtpUpload : public FtpFixture {};

TEST_F(FtpUpload, SeveralEventsBetweenTwoPollsGiveOnePassWithEveryPicture)
{
    FtpOptions options = QuickOptions();
    options.poll = 400ms;  // the three events land between two looks
    StartUploader(0, 500, options);
    ASSERT_TRUE(trace_.WaitFor("Thread client ftp start", 5s, kLevelTrace));

    const std::string one = Detect();
    const std::string two = Detect(70000);
    const std::string three = Detect(1);

    ASSERT_TRUE(WaitForRemote("vorlix_3.jpg", three));
    EXPECT_EQ(Remote("vorlix_1.jpg"), one) << "bytes changed on the way";
    EXPECT_EQ(Remote("vorlix_2.jpg"), two);
    ASSERT_TRUE(WaitForEvent("      Ftp=vorlix_3.jpg"));
    EXPECT_EQ(peer_.Logins(), 1) << "one connection for the pass";
    EXPECT_EQ(peer_.CommandsLike("STOR"),
              (std::vector<std::string>{"STOR vorlix_1.jpg", "STOR vorlix_2.jpg", "STOR vorlix_3.jpg"}));
    EXPECT_EQ(peer_.CommandsLike("TYPE"), std::vector<std::string>{"TYPE I"}) << "binary transfers";
    EXPECT_EQ(events_.Lines(),
              (std::vector<std::string>{"      Ftp=vorlix_1.jpg", "      Ftp=vorlix_2.jpg", "      Ftp=vorlix_3.jpg"}));
    EXPECT_TRUE(trace_.WaitFor("      Ftp=vorlix_3.jpg", 5s, kLevelTrace));
    EXPECT_EQ(uploader_->LastUploaded(), 3);
    // An empty RemoteDir: bare names in the log-in directory, nothing created.
    EXPECT_TRUE(peer_.CommandsLike("MKD").empty());
    EXPECT_TRUE(peer_.CommandsLike("CWD").empty());
}

TEST_F(FtpUpload, AMovedPictureDirectoryIsReadFromTheNextPass)
{
    StartUploader();
    ASSERT_TRUE(trace_.WaitFor("Thread client ftp start", 5s, kLevelTrace));
    const std::string first = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", first));

    // "FilePath" changed and reloaded: the pictures are written elsewhere now.
    const kestrel::test::TempDir moved("vorlix_ftp_moved");
    const std::string second(5000, '\x7f');
    moved.Write("vorlix_2.jpg", second);
    uploader_->SetPictureDir(moved.Path());
    ++shots_;
    uploader_->RequestFtpUpload(shots_, maxJpg_);
    EXPECT_TRUE(WaitForRemote("vorlix_2.jpg", second)) << "the picture of the new directory is sent";
}

TEST_F(FtpUpload, AWrapOverwritesTheRemoteFilesOfTheSameNumbers)
{
    StartUploader(0, 3);
    Detect();
    const std::string two = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", two));
    ASSERT_TRUE(WaitForEvent("Ftp=vorlix_2.jpg"));
    const std::string firstOne = Remote("vorlix_1.jpg");

    const std::string zero = Detect(5000);    // picture 3: slot 0
    const std::string newOne = Detect(6000);  // picture 4: slot 1 again
    ASSERT_NE(newOne, firstOne);
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", newOne));
    EXPECT_EQ(Remote("vorlix_0.jpg"), zero);
    EXPECT_EQ(Remote("vorlix_2.jpg"), two);
    ASSERT_TRUE(WaitForEvent("Ftp=vorlix_0.jpg"));
    EXPECT_EQ(peer_.CommandsLike("STOR"), (std::vector<std::string>{"STOR vorlix_1.jpg", "STOR vorlix_2.jpg",
                                                                    "STOR vorlix_0.jpg", "STOR vorlix_1.jpg"}));
}

TEST_F(FtpUpload, StartingSendsNothingSavedBefore)
{
    cam_.WritePicture(4);
    cam_.WritePicture(5);
    StartUploader(5, 500);
    const std::string six = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_6.jpg", six));
    EXPECT_EQ(peer_.CommandsLike("STOR"), std::vector<std::string>{"STOR vorlix_6.jpg"});
}

TEST_F(FtpUpload, APassFarBehindSendsEachSlotOnce)
{
    FtpOptions options = QuickOptions();
    options.poll = 300ms;
    StartUploader(0, 3, options);
    ASSERT_TRUE(trace_.WaitFor("Thread client ftp start", 5s, kLevelTrace));
    std::vector<std::string> last(3);
    for (int i = 0; i < 8; ++i) {
        const std::string bytes = Detect(1000 + static_cast<std::size_t>(i));
        last[static_cast<std::size_t>(PictureSlot(shots_, 3))] = bytes;
    }
    ASSERT_TRUE(WaitForEvent("Ftp=vorlix_2.jpg"));
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", last[2]));
    EXPECT_EQ(Remote("vorlix_0.jpg"), last[0]);
    EXPECT_EQ(Remote("vorlix_1.jpg"), last[1]);
    // Pictures 6, 7 and 8 are what the disk still holds.
    EXPECT_EQ(peer_.CommandsLike("STOR"),
              (std::vector<std::string>{"STOR vorlix_0.jpg", "STOR vorlix_1.jpg", "STOR vorlix_2.jpg"}));
    EXPECT_EQ(uploader_->LastUploaded(), 8);
}

TEST_F(FtpUpload, AMissingDirectoryIsCreatedLevelByLevelThenTheRetryAndThePageFollow)
{
    cam_.WriteIndexPage("<?php /* pictures */ ?>\r\n");
    StartUploader(0, 500, QuickOptions(), "a/b/");
    const std::string one = Detect();
    ASSERT_TRUE(WaitForRemote("a/b/vorlix_1.jpg", one));
    const std::string local = cam_.PictureDir() + "/vorlix_1.jpg";
    const std::string page = cam_.PictureDir() + "/index.php";
    ASSERT_TRUE(WaitForEvent("      Ftp=" + page));
    EXPECT_EQ(Remote("a/b/index.php"), "<?php /* pictures */ ?>\r\n");
    EXPECT_EQ(peer_.CommandsLike("MKD"), (std::vector<std::string>{"MKD a", "MKD a/b"}));
    EXPECT_EQ(peer_.CommandsLike("STOR"),
              (std::vector<std::string>{"STOR a/b/vorlix_1.jpg", "STOR a/b/vorlix_1.jpg", "STOR a/b/index.php"}));
    EXPECT_EQ(events_.Lines(), (std::vector<std::string>{"      Ftp retry=" + local, "      Ftp=" + page}));
    EXPECT_TRUE(trace_.Contains("Error during PutFile (" + local + ")", kLevelError));
    EXPECT_TRUE(trace_.Contains("lpszBuffer=550 ", kLevelTrace)) << "the server's refusal is traced";
    EXPECT_TRUE(trace_.Contains("      Ftp retry=" + local, kLevelTrace));
    EXPECT_EQ(peer_.Logins(), 1);

    // The directory is there now: no creation, no page.
    const std::string two = Detect();
    ASSERT_TRUE(WaitForRemote("a/b/vorlix_2.jpg", two));
    ASSERT_TRUE(WaitForEvent("      Ftp=a/b/vorlix_2.jpg"));
    EXPECT_EQ(peer_.CommandsLike("MKD").size(), 2U);
    EXPECT_EQ(peer_.CommandsLike("STOR a/b/index.php").size(), 1U);
}

TEST_F(FtpUpload, ADirectoryThatCannotBeMadeSkipsThePicture)
{
    kestrel::test::WriteFile(peer_.RootFile("taken"), "a file, not a directory");
    StartUploader(0, 500, QuickOptions(), "taken/");
    Detect();
    const std::string local = cam_.PictureDir() + "/vorlix_1.jpg";
    ASSERT_TRUE(WaitForEvent("      KO Ftp=" + local));
    EXPECT_TRUE(trace_.Contains(" retry PutFile " + local + " ko", kestrel::kLevelWarn));
    EXPECT_TRUE(trace_.Contains("  retry PutFile")) << "two blanks after the head";
    EXPECT_FALSE(HasEvent("Ftp retry="));
    EXPECT_EQ(uploader_->LastUploaded(), 1) << "a picture whose retry fails is not tried again";

    // The next picture is tried on its own.
    cam_.Set("RemoteDir", "");
    const std::string two = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", two));
    EXPECT_EQ(peer_.CommandsLike("STOR taken/vorlix_1.jpg").size(), 2U);
}

class FtpEmptyPassword : public FtpFixture {
protected:
    FtpEmptyPassword() : FtpFixture(FtpPeer::Config{"camera", "", false}) {}
};

TEST_F(FtpEmptyPassword, ConnectsWithNoPassword)
{
    StartUploader();
    cam_.SetPassword("");
    const std::string one = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", one));
    EXPECT_EQ(peer_.CommandsLike("PASS"), std::vector<std::string>{"PASS "});
}

TEST_F(FtpUpload, TheStoredPasswordIsUnscrambled)
{
    StartUploader();
    const std::string one = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", one));
    EXPECT_EQ(peer_.CommandsLike("PASS"), std::vector<std::string>{"PASS s3cret"});
}

TEST_F(FtpUpload, AWrongPasswordEndsThePassAndKeepsThePicturesPending)
{
    StartUploader();
    cam_.SetPassword("wrong");
    Detect();
    Detect();
    ASSERT_TRUE(WaitForEvent("      KO ftp connect ("));
    EXPECT_TRUE(trace_.Contains("lpszBuffer=530 ", kLevelTrace));
    EXPECT_EQ(events_.Lines(), std::vector<std::string>{"      KO ftp connect (67,Access denied: 530)"});
    EXPECT_TRUE(trace_.Contains("      KO ftp connect (", kLevelError));
    EXPECT_EQ(uploader_->LastUploaded(), 0);

    cam_.SetPassword("s3cret");
    const std::string three = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_3.jpg", three));
    EXPECT_FALSE(Remote("vorlix_1.jpg").empty());
    EXPECT_FALSE(Remote("vorlix_2.jpg").empty());
}

// A port where nothing listens: a proxy there would fail every connection.
int DeadPort()
{
    FtpPeer peer;
    const int port = peer.Port();
    peer.Stop();
    return port;
}

TEST_F(FtpUpload, OnlyIfproxyOneWithAProxyHostGoesThroughAProxy)
{
    const int dead = DeadPort();
    StartUploader();
    cam_.Set("Proxy", "127.0.0.1");
    cam_.SetInt("Proxy Port", dead);

    cam_.SetInt("ifproxy", 2);
    const std::string one = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", one)) << "ifproxy 2 is no proxy";

    cam_.SetInt("ifproxy", 1);
    cam_.Set("Proxy", "");
    const std::string two = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_2.jpg", two)) << "an empty proxy host is no proxy";

    cam_.Set("Proxy", "127.0.0.1");
    Detect();
    ASSERT_TRUE(WaitForEvent("      KO ftp connect (")) << "the proxy is used, and it is down";
    EXPECT_EQ(uploader_->LastUploaded(), 2);
}

TEST_F(FtpUpload, ThroughAProxyTheWholeDialogueIsTunnelled)
{
    ConnectProxy proxy;
    StartUploader(0, 500, QuickOptions(), "a/");
    cam_.WriteIndexPage("page");
    cam_.SetInt("ifproxy", 1);
    cam_.Set("Proxy", "127.0.0.1");
    cam_.SetInt("Proxy Port", proxy.Port());
    const std::string one = Detect(200000);
    ASSERT_TRUE(WaitForRemote("a/vorlix_1.jpg", one));
    ASSERT_TRUE(WaitForRemote("a/index.php", "page")) << "directory creation works through the tunnel";
    const std::vector<std::string> tunnels = proxy.Tunnels();
    ASSERT_FALSE(tunnels.empty());
    EXPECT_EQ(tunnels.front(), "127.0.0.1:" + std::to_string(peer_.Port())) << "the control connection";
    EXPECT_GE(tunnels.size(), 3U) << "each data connection has its own tunnel";
    EXPECT_EQ(peer_.Logins(), 1);
}

TEST_F(FtpUpload, ADirectConnectionIgnoresProxiesOfTheEnvironment)
{
    const int dead = DeadPort();
    const std::string proxy = "http://127.0.0.1:" + std::to_string(dead);
    ::setenv("ftp_proxy", proxy.c_str(), 1);
    ::setenv("all_proxy", proxy.c_str(), 1);
    StartUploader();
    const std::string one = Detect();
    const bool arrived = WaitForRemote("vorlix_1.jpg", one);
    ::unsetenv("ftp_proxy");
    ::unsetenv("all_proxy");
    EXPECT_TRUE(arrived);
}

TEST_F(FtpUpload, WithTheEventsWindowClosedLinesAreOnlyTraced)
{
    StartUploader();
    uploader_->SetEventsWindow(nullptr);
    const std::string one = Detect();
    ASSERT_TRUE(WaitForRemote("vorlix_1.jpg", one));
    ASSERT_TRUE(trace_.WaitFor("      Ftp=vorlix_1.jpg", 5s, kLevelTrace));
    EXPECT_TRUE(events_.Lines().empty());
}

}  // namespace
}  // namespace vorlix::ftp::test
