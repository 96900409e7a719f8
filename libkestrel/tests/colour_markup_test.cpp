// Colour markup shown to a person: terminal colours or nothing, never the
// raw tags, the rest of the line untouched.
#include <gtest/gtest.h>

#include "libkestrel/logfile/ColourMarkup.h"

namespace {

using kestrel::RenderColourMarkup;

TEST(ColourMarkupTest, TagsAreLeftOutAwayFromATerminal)
{
    EXPECT_EQ(RenderColourMarkup("<COLOR 7>[WARN ] 341 14:03:59 0x1A4 0     a.cpp(3): no camera</COLOR>", false),
              "[WARN ] 341 14:03:59 0x1A4 0     a.cpp(3): no camera");
    EXPECT_EQ(RenderColourMarkup("<HCOLOR 6>[ERROR] x</COLOR>", false), "[ERROR] x");
    EXPECT_EQ(RenderColourMarkup("[TRACE] plain", false), "[TRACE] plain");
}

TEST(ColourMarkupTest, TagsBecomeColoursOnATerminal)
{
    EXPECT_EQ(RenderColourMarkup("<COLOR 3>[DEBUG] d</COLOR>", true), "\x1b[36m[DEBUG] d\x1b[0m");
    EXPECT_EQ(RenderColourMarkup("<HCOLOR 7>[FAULT] f</COLOR>", true), "\x1b[1;33m[FAULT] f\x1b[0m");
    // A line cut before its closing tag does not colour the next one.
    EXPECT_EQ(RenderColourMarkup("<COLOR 4>[INFO ] cut", true), "\x1b[32m[INFO ] cut\x1b[0m");
}

TEST(ColourMarkupTest, TextThatOnlyLooksLikeATagStays)
{
    EXPECT_EQ(RenderColourMarkup("a <COLOR x> b <COLOR 4 c < d", false), "a <COLOR x> b <COLOR 4 c < d");
    EXPECT_EQ(RenderColourMarkup("</COLOR> stray", false), " stray");
    EXPECT_EQ(RenderColourMarkup("<COLOR 99>odd</COLOR>", true), "\x1b[39modd\x1b[0m");
    EXPECT_EQ(RenderColourMarkup("", true), "");
}

}  // namespace
