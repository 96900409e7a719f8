// SMTP commands and replies without a server: envelope brackets, the AUTH
// texts, replies gathered from chunks however they are cut, and what an
// EHLO reply offers.
#include <gtest/gtest.h>

#include <string>

#include "serveur/mail/SmtpWire.h"

namespace vorlix {
namespace {

TEST(SmtpCommands, EnvelopeAddressesGoInAngleBrackets)
{
    EXPECT_EQ(MailFromCommand("cam@example.org"), "MAIL FROM: <cam@example.org>\r\n");
    EXPECT_EQ(RcptToCommand("a@x"), "RCPT TO: <a@x>\r\n");
    EXPECT_EQ(RcptToCommand(" b@y"), "RCPT TO: <b@y>\r\n");  // a blank after ";" is no part of an address
    EXPECT_EQ(MailFromCommand("Camera <cam@example.org>"), "MAIL FROM: <cam@example.org>\r\n");
    EXPECT_EQ(kHeloCommand, "HELO server \r\n");
    EXPECT_EQ(kDataCommand, "DATA \r\n");
    EXPECT_EQ(kQuitCommand, "QUIT \r\n");
}

TEST(SmtpCommands, AuthPlainAndLoginTexts)
{
    // base64 of "\0user\0secret"
    EXPECT_EQ(AuthPlainCommand("user", "secret"), "AUTH PLAIN AHVzZXIAc2VjcmV0\r\n");
    EXPECT_EQ(AuthLoginAnswer("user"), "dXNlcg==\r\n");
    EXPECT_EQ(AuthLoginAnswer("p@ss w"), "cEBzcyB3\r\n");
}

TEST(SmtpReplies, OneReplyGatheredFromChunksCutAnywhere)
{
    const std::string reply = "250-mail.test\r\n250-PIPELINING\r\n250 SIZE 1000\r\n";
    for (std::size_t cut = 0; cut <= reply.size(); ++cut) {
        ReplyReader reader;
        reader.Add(reply.substr(0, cut));
        if (cut < reply.size()) {
            EXPECT_FALSE(reader.Next().has_value()) << cut;
        }
        reader.Add(reply.substr(cut));
        const auto got = reader.Next();
        ASSERT_TRUE(got.has_value()) << cut;
        EXPECT_EQ(got->code, 250);
        EXPECT_EQ(got->text, reply);
        EXPECT_EQ(reader.Waiting(), 0U);
    }
}

TEST(SmtpReplies, RepliesComeOutOneByOneAndKeepTheRest)
{
    ReplyReader reader;
    reader.Add("220 ready\r\n250 ok\n354 go");
    auto first = reader.Next();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->code, 220);
    auto second = reader.Next();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->code, 250);  // a bare LF ends a line too
    EXPECT_FALSE(reader.Next());
    EXPECT_EQ(reader.Waiting(), 6U);
    reader.Add(" ahead\r\n");
    auto third = reader.Next();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->code, 354);
    EXPECT_EQ(third->OneLine(), "354 go ahead");
}

TEST(SmtpReplies, FailuresAreFourAndFiveHundredsAndTextWithoutCodeIsAReplyToo)
{
    ReplyReader reader;
    reader.Add("550-5.1.1 no such user\r\n550 5.1.1 <a@x>: Recipient address rejected\r\nhello\r\n421\r\n");
    auto refused = reader.Next();
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->Failed());
    EXPECT_EQ(refused->OneLine(), "550-5.1.1 no such user 550 5.1.1 <a@x>: Recipient address rejected");
    auto text = reader.Next();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->code, 0);
    EXPECT_FALSE(text->Failed());
    auto busy = reader.Next();
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->code, 421);
    EXPECT_TRUE(busy->Failed());

    for (const int code : {200, 250, 354, 399, 600}) {
        EXPECT_FALSE((SmtpReply{code, ""}.Failed())) << code;
    }
    EXPECT_TRUE((SmtpReply{400, ""}.Failed()));
    EXPECT_TRUE((SmtpReply{599, ""}.Failed()));
}

TEST(SmtpReplies, AnEndlessReplyIsNoticed)
{
    ReplyReader reader;
    const std::string line = "250-" + std::string(1000, 'x') + "\r\n";
    while (!reader.Overlong()) {
        reader.Add(line);
        ASSERT_FALSE(reader.Next());
        ASSERT_LT(reader.Waiting(), 2 * ReplyReader::kMaxReply);
    }
}

TEST(SmtpEhlo, StartTlsAndAuthMechanisms)
{
    const EhloOffer offer = ParseEhlo(
        {250,
         "250-mail.test\r\n250-SIZE 35882577\r\n250-starttls\r\n250-AUTH LOGIN plain XOAUTH2\r\n250 8BITMIME\r\n"});
    EXPECT_TRUE(offer.startTls);
    EXPECT_EQ(offer.auth, (std::set<std::string>{"LOGIN", "PLAIN", "XOAUTH2"}));

    const EhloOffer old = ParseEhlo({250, "250-old.test\r\n250 AUTH=LOGIN\r\n"});
    EXPECT_FALSE(old.startTls);
    EXPECT_EQ(old.auth, (std::set<std::string>{"LOGIN"}));

    const EhloOffer none = ParseEhlo({250, "250 tiny.test\r\n"});
    EXPECT_FALSE(none.startTls);
    EXPECT_TRUE(none.auth.empty());
}

}  // namespace
}  // namespace vorlix
