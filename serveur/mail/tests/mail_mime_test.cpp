// The text of a mail without a server: base64 and its lines, the boundary,
// the parts as they go on the wire, the names of pictures and recipients,
// and dot-stuffing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "serveur/mail/MailMime.h"

namespace vorlix {
namespace {

TEST(MailBase64, OneTwoAndThreeByteGroups)
{
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");   // 1 byte: 2 characters and "=="
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");  // 2 bytes: 3 characters and "="
    EXPECT_EQ(Base64Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64Encode(std::string("\xFF\xFE\x00", 3)), "//4A");
    EXPECT_EQ(Base64Encode(std::string("\x00", 1)), "AA==");
    EXPECT_EQ(Base64Encode("\xFB\xFF"), "+/8=");
}

TEST(MailBase64, FiftyFourBytesMakeExactlyOneLineEndingInCrLf)
{
    const std::string bytes(54, '\x5A');
    const std::string encoded = Base64Encode(bytes);
    ASSERT_EQ(encoded.size(), 72U);
    const std::string split = SplitLines(encoded);
    EXPECT_EQ(split, encoded + "\r\n");

    // 1 and 2 bytes stay one short line without CR LF.
    EXPECT_EQ(SplitLines(Base64Encode("a")), "YQ==");
    EXPECT_EQ(SplitLines(Base64Encode("ab")), "YWI=");
}

TEST(MailBase64, LinesOf72WithAShorterLastOne)
{
    const std::string text(72 * 2 + 10, 'A');
    const std::string split = SplitLines(text);
    EXPECT_EQ(split, std::string(72, 'A') + "\r\n" + std::string(72, 'A') + "\r\n" + std::string(10, 'A'));
    EXPECT_EQ(SplitLines(""), "");
    EXPECT_EQ(SplitLines(std::string(144, 'B')), std::string(72, 'B') + "\r\n" + std::string(72, 'B') + "\r\n");
}

TEST(MailBoundary, ProductOfRandPlusOneWrapsTo32Bits)
{
    EXPECT_EQ(BoundaryFromRand(0), "-----50f384b8");
    EXPECT_EQ(BoundaryFromRand(1), "-----a1e70970");    // 2 * 0x50F384B8
    EXPECT_EQ(BoundaryFromRand(3), "-----43ce12e0");    // 4 * 0x50F384B8 mod 2^32
    EXPECT_EQ(BoundaryFromRand(2147483647), "-----0");  // 2^31 times an even number
    for (int i = 0; i < 50; ++i) {
        const std::string boundary = BoundaryFromRand(std::rand());
        ASSERT_TRUE(boundary.starts_with("-----")) << boundary;
        const std::string digits = boundary.substr(5);
        EXPECT_GE(digits.size(), 1U);
        EXPECT_LE(digits.size(), 8U);
        EXPECT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << boundary;
    }
}

TEST(MailParts, HeaderLinesAndMimeHeader)
{
    EXPECT_EQ(FromHeader("cam@example.org"), "FROM: cam@example.org\r\n");
    EXPECT_EQ(ToHeader("a@x;b@y"), "TO: a@x;b@y\r\n");
    EXPECT_EQ(CcHeader("c@z"), "CC: c@z\r\n");
    EXPECT_EQ(SubjectHeader("Detection mouvement Vorlix"), "Subject: Detection mouvement Vorlix\r\n");
    EXPECT_EQ(MimeHeader("-----b"), "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"-----b\"\r\n\r\n");
    EXPECT_EQ(ClosingBoundary("-----b"), "-------b--\r\n");
}

TEST(MailParts, FirstTextPartIsIsoLatin1WithTheHistory)
{
    const std::string part = FirstTextPart("-----b", "Sun Dec 06 08:26:20 2026 Events(3)=\"In zone 1\"\r\n");
    EXPECT_EQ(part,
              "Je vous informe que ceci est un message au format MIME 1.0 multipart/mixed.\r\n"
              "-------b\r\n"
              "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
              "Content-Transfer-Encoding: 8bit\r\n"
              "\r\n"
              "Mail provenant de Vorlix suite aux \xE9v\xE9nements suivants :\r\n"
              "Sun Dec 06 08:26:20 2026 Events(3)=\"In zone 1\"\r\n"
              "\r\n");
    // Each e acute is the one byte 0xE9, never a UTF-8 pair.
    EXPECT_NE(part.find("aux \xE9v\xE9nements"), std::string::npos);
    EXPECT_EQ(part.find("\xC3\xA9"), std::string::npos);
}

TEST(MailParts, PictureAndTextPartsAsSent)
{
    EXPECT_EQ(PicturePart("-----b", "vorlix_7.jpg", "QUJD"),
              "\r\n-------b\r\n"
              "Content-Type: image/jpeg; name=\"vorlix_7.jpg\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "Content-Disposition: inline; filename=\"vorlix_7.jpg\"\r\n"
              "\r\n"
              "QUJD\r\n\r\n");
    EXPECT_EQ(TextPart("-----b", SizeMaxNote(2, 9)),
              "-------b\r\n"
              "Content-Type: text/plain; charset=\"iso-8859-1\"\r\n"
              "Content-Transfer-Encoding: 8bit\r\n"
              "\r\n"
              "sizemax atteint (de 2 a 9)\r\n");
    EXPECT_EQ(kDataEnd, "\r\n.\r\n");
}

TEST(MailParts, DateHeaderInEnglishWithTheZoneOffset)
{
    const char* const old = std::getenv("TZ");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    EXPECT_EQ(DateHeader(1796545580), "Date: Sun, 06 Dec 2026 08:26:20 +0000\r\n");
    ::setenv("TZ", "CET-1", 1);
    ::tzset();
    EXPECT_EQ(DateHeader(1796545580), "Date: Sun, 06 Dec 2026 09:26:20 +0100\r\n");
    ::setenv("TZ", "<-0330>3:30", 1);
    ::tzset();
    EXPECT_EQ(DateHeader(0), "Date: Wed, 31 Dec 1969 20:30:00 -0330\r\n");
    if (old != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

TEST(MailParts, EventsWindowLines)
{
    EXPECT_EQ(SummaryLine("smtp.example.org", "a@x;b@y", "Detection"),
              "      SendMail (smtp.example.org,to:a@x;b@y,sujet:Detection)");
    EXPECT_EQ(FailureLine("Connect to SMTP KO"), "      KO SendMail (Connect to SMTP KO)");
}

TEST(MailRecipients, ToThenCcSplitAtSemicolonsEmptyPiecesSkipped)
{
    EXPECT_EQ(Recipients("a@x;b@y", "c@z"), (std::vector<std::string>{"a@x", "b@y", "c@z"}));
    EXPECT_EQ(Recipients(";a@x;;", ""), (std::vector<std::string>{"a@x"}));
    EXPECT_EQ(Recipients("", "c@z"), (std::vector<std::string>{"c@z"}));
    EXPECT_TRUE(Recipients("", "").empty());
    EXPECT_EQ(Recipients("a@x; b@y", ""), (std::vector<std::string>{"a@x", " b@y"}));  // blanks kept here
}

TEST(MailRecipients, EnvelopeAddressTakesWhatIsBetweenTheBrackets)
{
    EXPECT_EQ(EnvelopeAddress(" b@y "), "b@y");
    EXPECT_EQ(EnvelopeAddress("Camera <cam@example.org>"), "cam@example.org");
    EXPECT_EQ(EnvelopeAddress("<a@x>"), "a@x");
    EXPECT_EQ(EnvelopeAddress("a@x>"), "a@x>");  // no pair: as it is
    EXPECT_EQ(EnvelopeAddress(""), "");
}

TEST(MailPictures, NamesRunModuloTheRing)
{
    EXPECT_EQ(PictureName(0, 500), "vorlix_0.jpg");
    EXPECT_EQ(PictureName(501, 500), "vorlix_1.jpg");
    EXPECT_EQ(PictureName(3, 3), "vorlix_0.jpg");
    EXPECT_EQ(PictureName(-1, 3), "vorlix_2.jpg");
    EXPECT_EQ(PictureName(7, 0), "vorlix_0.jpg");  // a ring below 1 slot counts as 1
    EXPECT_EQ(PicturePath("/var/cam/files", "last.jpg"), "/var/cam/files/last.jpg");
}

TEST(MailDotStuffing, LeadingDotsAreDoubledAcrossPieces)
{
    DotStuffer stuffer;
    EXPECT_EQ(stuffer.Stuff(".start\r\nmiddle. dot\r\n.\r\n"), "..start\r\nmiddle. dot\r\n..\r\n");
    // A line begun in one piece goes on in the next.
    EXPECT_EQ(stuffer.Stuff("abc"), "abc");
    EXPECT_EQ(stuffer.Stuff(".def\r\n"), ".def\r\n");
    EXPECT_EQ(stuffer.Stuff(".ghi"), "..ghi");
    // A bare LF ends a line too.
    EXPECT_EQ(stuffer.Stuff("\n.x"), "\n..x");
    EXPECT_EQ(DotStuffer{}.Stuff(""), "");
}

}  // namespace
}  // namespace vorlix
