// The uploader's names, texts and rules, without a server.
#include <gtest/gtest.h>

#include "serveur/ftp/FtpWire.h"

namespace vorlix::ftp {
namespace {

TEST(FtpNames, RemoteDirIsAPrefixAndSlotsWrap)
{
    EXPECT_EQ(RemotePictureName("cam/pics/", 7), "cam/pics/vorlix_7.jpg");
    EXPECT_EQ(RemotePictureName("", 0), "vorlix_0.jpg");
    EXPECT_EQ(LocalPicturePath("/srv/files_2", 499), "/srv/files_2/vorlix_499.jpg");
    EXPECT_EQ(RemoteIndexName("a/b/"), "a/b/index.php");
    EXPECT_EQ(RemoteIndexName(""), "index.php");
    EXPECT_EQ(LocalIndexPath("/srv/files"), "/srv/files/index.php");

    // Picture numbers run on past the set; the slot wraps like the files on disk.
    EXPECT_EQ(PictureSlot(1, 3), 1);
    EXPECT_EQ(PictureSlot(3, 3), 0);
    EXPECT_EQ(PictureSlot(4, 3), 1);
    EXPECT_EQ(PictureSlot(12, 500), 12);
    EXPECT_EQ(PictureSlot(5, 0), 0) << "a set below one slot counts as one";
    EXPECT_EQ(PictureSlot(-1, 3), 2);
}

TEST(FtpProxy, OnlyIfproxyOneWithAHostUsesAProxy)
{
    EXPECT_EQ(ProxyText(1, "proxy.lan", 3128), "proxy.lan:3128");
    EXPECT_EQ(ProxyText(1, "proxy.lan", 80), "proxy.lan:80");
    EXPECT_EQ(ProxyText(1, "", 3128), std::nullopt);
    EXPECT_EQ(ProxyText(2, "proxy.lan", 3128), std::nullopt);
    EXPECT_EQ(ProxyText(0, "proxy.lan", 3128), std::nullopt);
    EXPECT_EQ(ProxyText(-1, "proxy.lan", 3128), std::nullopt);
}

TEST(FtpDirectories, CreatedLevelByLevelAtEachSeparator)
{
    EXPECT_EQ(DirectoryLevels("a/b/"), (std::vector<std::string>{"a", "a/b"}));
    EXPECT_EQ(DirectoryLevels("a\\b/c/"), (std::vector<std::string>{"a", "a\\b", "a\\b/c"}));
    EXPECT_TRUE(DirectoryLevels("").empty());
    // No trailing separator: the last part is a name prefix, not a directory.
    EXPECT_EQ(DirectoryLevels("a/pic_"), (std::vector<std::string>{"a"}));
    // A leading separator and doubled ones give no empty names.
    EXPECT_EQ(DirectoryLevels("/pub//cam/"), (std::vector<std::string>{"/pub", "/pub//cam"}));
}

TEST(FtpDirectories, MakeDirectoryCommandRefusesLineBreaks)
{
    EXPECT_EQ(MakeDirectoryCommand("a/b"), "*MKD a/b");
    EXPECT_EQ(MakeDirectoryCommand("my pictures"), "*MKD my pictures");
    EXPECT_EQ(MakeDirectoryCommand(""), std::nullopt);
    EXPECT_EQ(MakeDirectoryCommand("a\r\nDELE vorlix_1.jpg"), std::nullopt);
    EXPECT_EQ(MakeDirectoryCommand(std::string_view("a\0b", 3)), std::nullopt);
}

TEST(FtpAddress, HostAndPortMakeTheServerUrl)
{
    EXPECT_EQ(ServerUrl("ftp.example.org", 21), "ftp://ftp.example.org:21/");
    EXPECT_EQ(ServerUrl("127.0.0.1", 2121), "ftp://127.0.0.1:2121/");
    EXPECT_EQ(ServerUrl("127.0.0.1", 0), "ftp://127.0.0.1:21/") << "port 0 is the FTP default";
    EXPECT_EQ(ServerUrl("::1", 21), "ftp://[::1]:21/");
    EXPECT_EQ(ServerUrl("[::1]", 21), "ftp://[::1]:21/");
    EXPECT_EQ(ServerUrl("", 21), std::nullopt);
    EXPECT_EQ(ServerUrl("host", 70000), std::nullopt);
    EXPECT_EQ(ServerUrl("host", -1), std::nullopt);
    // Anything that would change what the address means is refused.
    EXPECT_EQ(ServerUrl("user@host", 21), std::nullopt);
    EXPECT_EQ(ServerUrl("host/evil", 21), std::nullopt);
    EXPECT_EQ(ServerUrl("host\r\n", 21), std::nullopt);
    EXPECT_EQ(ServerUrl("host name", 21), std::nullopt);
}

TEST(FtpAddress, RemoteNamesAreEscapedWholeIntoThePath)
{
    const std::string base = "ftp://h:21/";
    EXPECT_EQ(FileUrl(base, "vorlix_3.jpg"), "ftp://h:21/vorlix_3.jpg");
    EXPECT_EQ(FileUrl(base, "a b/c#d?e%.jpg"), "ftp://h:21/a%20b/c%23d%3Fe%25.jpg");
    EXPECT_EQ(FileUrl(base, "/abs/x.jpg"), "ftp://h:21//abs/x.jpg") << "kept absolute";
    EXPECT_EQ(FileUrl(base, "a\\b"), "ftp://h:21/a%5Cb");
    EXPECT_EQ(FileUrl(base, "\xe9t\xe9"), "ftp://h:21/%E9t%E9");
}

TEST(FtpAddress, CredentialsWithControlCharactersAreNotSent)
{
    EXPECT_TRUE(SafeCredential(""));
    EXPECT_TRUE(SafeCredential("camera"));
    EXPECT_TRUE(SafeCredential("p@ss word:\xe9"));
    EXPECT_FALSE(SafeCredential("camera\r\nDELE x"));
    EXPECT_FALSE(SafeCredential(std::string_view("a\0", 2)));
    EXPECT_FALSE(SafeCredential("tab\there"));
}

TEST(FtpEventLines, TextsAsTheEventsWindowShowsThem)
{
    EXPECT_EQ(UploadedLine("pics/vorlix_4.jpg"), "      Ftp=pics/vorlix_4.jpg");
    EXPECT_EQ(RetryUploadedLine("/f/vorlix_4.jpg"), "      Ftp retry=/f/vorlix_4.jpg");
    EXPECT_EQ(RetryFailedLine("/f/vorlix_4.jpg"), "      KO Ftp=/f/vorlix_4.jpg");
    EXPECT_EQ(OpenFailedLine(12, "Cannot allocate memory"), "      KO ftp open (12,Cannot allocate memory)");
    EXPECT_EQ(ConnectFailedLine(111, "Connection refused"), "      KO ftp connect (111,Connection refused)");
}

TEST(FtpPending, EveryPictureSinceTheLastSentOldestFirst)
{
    const PendingRange none = Pending(5, 5, 500);
    EXPECT_TRUE(none.Empty());
    EXPECT_TRUE(Pending(7, 5, 500).Empty()) << "a counter behind the last sent sends nothing";

    const PendingRange three = Pending(5, 8, 500);
    EXPECT_EQ(three.first, 6);
    EXPECT_EQ(three.last, 8);

    // Exactly a whole set behind: every slot once.
    const PendingRange whole = Pending(0, 3, 3);
    EXPECT_EQ(whole.first, 1);
    EXPECT_EQ(whole.last, 3);

    // More than a set behind: the older pictures are gone from disk.
    const PendingRange behind = Pending(0, 10, 3);
    EXPECT_EQ(behind.first, 8);
    EXPECT_EQ(behind.last, 10);
}

TEST(FtpReply, KeepsTheLastWholeReply)
{
    ReplyCollector reply;
    EXPECT_EQ(reply.Last(), "");
    reply.Feed("220 pyftpdlib ready.\r\n");
    EXPECT_EQ(reply.Last(), "220 pyftpdlib ready.");
    reply.Feed("331 Username ok, send password.\r\n");
    reply.Feed("530 Authentication failed.\r\n");
    EXPECT_EQ(reply.Last(), "530 Authentication failed.");
}

TEST(FtpReply, MultiLineRepliesStayTogether)
{
    ReplyCollector reply;
    reply.Feed("230 Login successful.\r\n");
    reply.Feed("211-Features:\r\n");
    EXPECT_EQ(reply.Last(), "211-Features:") << "an unfinished reply is the newest news";
    reply.Feed(" EPSV\r\n");
    reply.Feed("211-still inside\r\n");
    reply.Feed("211 End\r\n");
    EXPECT_EQ(reply.Last(), "211-Features:\r\n EPSV\r\n211-still inside\r\n211 End");
    reply.Feed("550 No such file or directory.\r\n");
    EXPECT_EQ(reply.Last(), "550 No such file or directory.");
    reply.Clear();
    EXPECT_EQ(reply.Last(), "");
}

TEST(FtpReply, AnEndlessReplyIsCut)
{
    ReplyCollector reply;
    reply.Feed("250-start\r\n");
    const std::string filler(1000, 'x');
    for (int i = 0; i < 100; ++i) {
        reply.Feed(filler + "\r\n");
    }
    reply.Feed("250 end\r\n");
    EXPECT_EQ(reply.Last().size(), kReplyMax);
    EXPECT_EQ(reply.Last().rfind("250-start", 0), 0U);
}

}  // namespace
}  // namespace vorlix::ftp
