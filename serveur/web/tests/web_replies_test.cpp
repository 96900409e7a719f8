// Address decoding of the browser view, without a server.
#include <gtest/gtest.h>

#include <string>

#include "serveur/web/WebReplies.h"

namespace {

std::string Decoded(std::string text)
{
    text.push_back('\0');
    const std::size_t length = vorlix::web::UnescapeInPlace(text.data());
    EXPECT_EQ(length, std::char_traits<char>::length(text.c_str())) << "the length given is the text's";
    return text.substr(0, length);
}

TEST(UnescapeTest, EscapesOfEitherCaseAreDecoded)
{
    EXPECT_EQ(Decoded("/pictures/%2e%2E/x"), "/pictures/../x");
    EXPECT_EQ(Decoded("%41%62%7e"), "Ab~");
    EXPECT_EQ(Decoded("/plain/path.jpg"), "/plain/path.jpg");
}

TEST(UnescapeTest, ANulIsNeverMadeSoTheNameStaysWhole)
{
    EXPECT_EQ(Decoded("/pictures/1.jpg%00.txt"), "/pictures/1.jpg%00.txt");
}

TEST(UnescapeTest, BrokenOrCutEscapesStayAsSent)
{
    EXPECT_EQ(Decoded("%zz%4"), "%zz%4");
    EXPECT_EQ(Decoded("%"), "%");
    EXPECT_EQ(Decoded("a%2"), "a%2");
    EXPECT_EQ(Decoded("%%41"), "%A");
}

}  // namespace
