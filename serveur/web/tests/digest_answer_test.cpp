// A browser's Digest answer read apart from any connection: the fields as
// browsers write them, what is not an answer at all, and whether the answer
// was made with the password (the worked example of the Digest scheme, and
// the form without qop).
#include <gtest/gtest.h>

#include "serveur/web/DigestAnswer.h"

namespace vorlix::web {
namespace {

constexpr const char* kExample =
    "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
    "uri=\"/dir/index.html\", qop=auth, nc=00000001, cnonce=\"0a4f113b\", "
    "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";

TEST(DigestAnswerRead, FieldsQuotedOrNotWithUnknownOnesLeftOut)
{
    const auto answer = ParseDigestAnswer(kExample);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->username, "Mufasa");
    EXPECT_EQ(answer->realm, "testrealm@host.com");
    EXPECT_EQ(answer->nonce, "dcd98b7102dd2f0e8b11d0f600bfb0c093");
    EXPECT_EQ(answer->uri, "/dir/index.html");
    EXPECT_EQ(answer->qop, "auth");
    EXPECT_EQ(answer->nc, "00000001");
    EXPECT_EQ(answer->cnonce, "0a4f113b");
    EXPECT_EQ(answer->response, "6629fae49393a05397450978507c4ef1");

    const auto escaped = ParseDigestAnswer(R"(digest USERNAME = "a\"b", nonce=n1,response="x",realm="r")");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->username, "a\"b");
    EXPECT_EQ(escaped->nonce, "n1");
}

TEST(DigestAnswerRead, WhatIsNoDigestAnswerIsRefused)
{
    EXPECT_FALSE(ParseDigestAnswer("Basic dm9ybGl4OnB3"));
    EXPECT_FALSE(ParseDigestAnswer("Digest"));
    EXPECT_FALSE(ParseDigestAnswer("Digestive username=\"a\", nonce=\"n\", response=\"r\""));
    EXPECT_FALSE(ParseDigestAnswer("Digest username=\"a, nonce=\"n\", response=\"r"));  // a quote left open
    EXPECT_FALSE(ParseDigestAnswer("Digest username=\"a\", username=\"b\", nonce=\"n\", response=\"r\""));
    EXPECT_FALSE(ParseDigestAnswer("Digest username=\"a\", nonce=\"n\""));  // no response
    EXPECT_FALSE(ParseDigestAnswer("Digest username=\"a\" nonce"));
    EXPECT_FALSE(ParseDigestAnswer("Digest =\"a\", username=\"a\", nonce=\"n\", response=\"r\""));
}

TEST(DigestAnswerCheck, OnlyThePasswordAndMethodItWasMadeWithMatch)
{
    const auto answer = ParseDigestAnswer(kExample);
    ASSERT_TRUE(answer);
    EXPECT_TRUE(MadeWithPassword(*answer, "GET", "Circle Of Life"));
    EXPECT_FALSE(MadeWithPassword(*answer, "GET", "Circle of Life"));
    EXPECT_FALSE(MadeWithPassword(*answer, "GET", ""));
    EXPECT_FALSE(MadeWithPassword(*answer, "HEAD", "Circle Of Life"));

    DigestAnswer changed = *answer;
    changed.nc = "00000002";
    EXPECT_FALSE(MadeWithPassword(changed, "GET", "Circle Of Life"));
    changed = *answer;
    changed.response = "6629FAE49393A05397450978507C4EF1";  // hex of either case
    EXPECT_TRUE(MadeWithPassword(changed, "GET", "Circle Of Life"));
    changed.algorithm = "SHA-256";
    EXPECT_FALSE(MadeWithPassword(changed, "GET", "Circle Of Life"));
    changed = *answer;
    changed.qop = "auth-int";
    EXPECT_FALSE(MadeWithPassword(changed, "GET", "Circle Of Life"));

    // Without qop the answer is MD5(HA1:nonce:HA2).
    changed = *answer;
    changed.qop.clear();
    changed.response = "670fd8c2df070c60b045671b8b24ff02";
    EXPECT_TRUE(MadeWithPassword(changed, "GET", "Circle Of Life"));
    const auto head = ParseDigestAnswer(
        "Digest username=\"vorlix\", realm=\"Vorlix camera 1\", nonce=\"n1\", uri=\"/x\", algorithm=MD5, "
        "response=\"6546597f439ed244353a471ab936215b\"");
    ASSERT_TRUE(head);
    EXPECT_TRUE(MadeWithPassword(*head, "HEAD", "a\"b"));
}

}  // namespace
}  // namespace vorlix::web
