// Tokens and number conversions of the framework string.
#include <gtest/gtest.h>

#include <string>

#include "libkestrel/env/CStringTokenizer.h"
#include "libkestrel/framework/QXException.h"
#include "libkestrel/framework/QXString.h"

using kestrel::CGeneralException;
using kestrel::CStringTokenizer;
using kestrel::QXString;

namespace {

TEST(StringTokenizer, EmptyTokensNeverComeOut)
{
    CStringTokenizer tokens("a;;b;", ";");
    std::string token = "stale";
    ASSERT_TRUE(tokens.nextToken(token));
    EXPECT_EQ(token, "a");
    ASSERT_TRUE(tokens.nextToken(token));
    EXPECT_EQ(token, "b");
    EXPECT_FALSE(tokens.nextToken(token));
    EXPECT_EQ(token, "");
    EXPECT_FALSE(tokens.nextToken(token));
}

TEST(StringTokenizer, LeadingSeparatorsAndSeparatorChanges)
{
    CStringTokenizer tokens(std::string(";; key=value;x y"), std::string(";"));
    std::string token;
    ASSERT_TRUE(tokens.nextToken(token));
    EXPECT_EQ(token, " key=value");
    // A new set replaces the stored one for this and later calls.
    ASSERT_TRUE(tokens.nextToken(token, " "));
    EXPECT_EQ(token, "x");
    ASSERT_TRUE(tokens.nextToken(token));
    EXPECT_EQ(token, "y");
    EXPECT_FALSE(tokens.nextToken(token));

    CStringTokenizer onlySeparators(";;;", ";");
    EXPECT_FALSE(onlySeparators.nextToken(token));
    CStringTokenizer nullText(nullptr, ";");
    EXPECT_FALSE(nullText.nextToken(token));
}

TEST(StringTokenizer, MissingSeparatorsThrow)
{
    CStringTokenizer tokens("a b", nullptr);
    std::string token;
    try {
        (void)tokens.nextToken(token);
        FAIL() << "no exception";
    } catch (const CGeneralException& e) {
        EXPECT_EQ(e.Code(), 5);
        EXPECT_EQ(e.Text(), "Separator not specified in CStringTokenizer::nextToken");
    }
    // Separators given later make it work.
    ASSERT_TRUE(tokens.nextToken(token, std::string(" ")));
    EXPECT_EQ(token, "a");
}

std::string ThrownText(const QXString& s, bool asLong)
{
    try {
        if (asLong) {
            (void)s.toLong();
        } else {
            (void)s.toInt();
        }
    } catch (const CGeneralException& e) {
        return std::to_string(e.Code()) + " " + e.Text();
    }
    return "no exception";
}

TEST(QXStringConversion, IntegerRules)
{
    EXPECT_EQ(static_cast<int>(QXString("-12")), -12);
    EXPECT_EQ(static_cast<long>(QXString("+40")), 40L);
    // The check allows signs anywhere; atol then stops at the second one.
    EXPECT_EQ(QXString("1-2").toInt(), 1);
    EXPECT_EQ(ThrownText(QXString("12a"), false), "5 String is not int (operator int)");
    EXPECT_EQ(ThrownText(QXString(""), false), "5 String is not int (operator int)");
    EXPECT_EQ(ThrownText(QXString(" 1"), false), "5 String is not int (operator int)");
    EXPECT_EQ(ThrownText(QXString("x"), true), "5 String is not int (operator long)");
    // Narrow conversions cut the long result and report as the long one.
    EXPECT_EQ(QXString("300").toUChar(), static_cast<unsigned char>(44));
    EXPECT_EQ(QXString("70000").toShort(), static_cast<short>(70000 - 65536));
    EXPECT_EQ(QXString("-1").toUShort(), 65535);
    EXPECT_EQ(ThrownText(QXString("9z"), true), "5 String is not int (operator long)");
    try {
        (void)QXString("q").toUChar();
        FAIL() << "no exception";
    } catch (const CGeneralException& e) {
        EXPECT_EQ(e.Text(), "String is not int (operator long)");
    }
}

TEST(QXStringConversion, CheckAndFloatingPoint)
{
    EXPECT_TRUE(QXString("12").isInt(""));
    EXPECT_FALSE(QXString("-12").isInt(""));
    EXPECT_TRUE(QXString("anything").isInt(nullptr));
    EXPECT_FALSE(QXString("").isInt(nullptr));
    EXPECT_TRUE(QXString("1.5").isInt("."));
    // Floating point is not checked.
    EXPECT_DOUBLE_EQ(QXString("2.5x").toDouble(), 2.5);
    EXPECT_FLOAT_EQ(static_cast<float>(QXString("abc")), 0.0F);
    EXPECT_EQ(QXString(-42), "-42");
}

}  // namespace
