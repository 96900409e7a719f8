// Environment settings and variable expansion: the settings file comes
// before the process environment, and references expand in one pass.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "libkestrel/env/CVarExpander.h"
#include "libkestrel/env/QXGetenv.h"
#include "libkestrel/framework/QXString.h"

namespace {

class EnvTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kestrel_env_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        registry_ = dir_ + "/environment.ini";
        ::setenv("KESTREL_REGISTRY", registry_.c_str(), 1);
        ::unsetenv("UNSET");
        ::setenv("KESTREL_TEST_HOME", "/home/cam", 1);
    }
    void TearDown() override
    {
        ::unsetenv("KESTREL_REGISTRY");
        ::unsetenv("KESTREL_TEST_HOME");
        ::unsetenv("KESTREL_TEST_BOTH");
        std::filesystem::remove_all(dir_);
    }
    void WriteRegistry(const std::string& text) { std::ofstream(registry_, std::ios::binary) << text; }

    std::string dir_;
    std::string registry_;
};

TEST_F(EnvTest, SettingsFileComesBeforeEnvironment)
{
    ::setenv("KESTREL_TEST_BOTH", "from environment", 1);
    WriteRegistry("[SOFTWARE\\BRINDLE WORKS\\ENVIRONMENT]\nKESTREL_TEST_BOTH=from settings\nAPSHELL=/bin/sh\n");
    ASSERT_NE(QXGetenv("KESTREL_TEST_BOTH"), nullptr);
    EXPECT_STREQ(QXGetenv("KESTREL_TEST_BOTH"), "from settings");
    EXPECT_STREQ(QXGetenv("apshell"), "/bin/sh");
    // Not in the file: the environment answers; in neither: null.
    EXPECT_STREQ(QXGetenv("KESTREL_TEST_HOME"), "/home/cam");
    EXPECT_EQ(QXGetenv("UNSET"), nullptr);
    // Another section of the file is another key.
    EXPECT_EQ(QXGetKey(kestrel::RegistryRoot::LocalMachine, "SOFTWARE\\OTHER", "APSHELL"), nullptr);
}

TEST_F(EnvTest, TooLongSettingFallsBackToEnvironment)
{
    ::setenv("KESTREL_TEST_BOTH", "short", 1);
    WriteRegistry("[SOFTWARE\\BRINDLE WORKS\\ENVIRONMENT]\nKESTREL_TEST_BOTH=" + std::string(256, 'x') +
                  "\nFIT=" + std::string(255, 'y') + "\n");
    EXPECT_STREQ(QXGetenv("KESTREL_TEST_BOTH"), "short");
    EXPECT_EQ(std::string(QXGetenv("FIT")), std::string(255, 'y'));
}

TEST_F(EnvTest, MissingSettingsFileUsesEnvironment)
{
    ::setenv("KESTREL_REGISTRY", (dir_ + "/absent.ini").c_str(), 1);
    EXPECT_STREQ(QXGetenv("KESTREL_TEST_HOME"), "/home/cam");
}

TEST_F(EnvTest, HexCodesExpandToBytes)
{
    kestrel::QXString text("%x41%x42");
    EXPECT_TRUE(text.extractEnvVar());
    EXPECT_EQ(text, "AB");
    // Upper-case digits count; other letters count as 0; too short stays a reference.
    kestrel::QXString mixed("%xFf%xz1");
    EXPECT_TRUE(mixed.extractEnvVar());
    EXPECT_EQ(mixed, std::string("\xff\x01"));
}

TEST_F(EnvTest, UnsetDollarVariableExpandsToNothing)
{
    kestrel::QXString text("pre$UNSET/post");
    EXPECT_FALSE(text.extractEnvVar());
    EXPECT_EQ(text, "pre/post");
}

TEST_F(EnvTest, PercentReferencesEndAtTheirClosingPercent)
{
    kestrel::QXString text("%KESTREL_TEST_HOME%\\x");
    EXPECT_TRUE(text.extractEnvVar());
    EXPECT_EQ(text, "/home/cam\\x");
    kestrel::QXString atEnd("dir=%KESTREL_TEST_HOME");
    EXPECT_TRUE(atEnd.extractEnvVar());
    EXPECT_EQ(atEnd, "dir=/home/cam");
    kestrel::QXString twice("%KESTREL_TEST_HOME%%KESTREL_TEST_HOME%");
    EXPECT_TRUE(twice.extractEnvVar());
    EXPECT_EQ(twice, "/home/cam/home/cam");
    kestrel::QXString dollar("$KESTREL_TEST_HOME/x");
    EXPECT_TRUE(dollar.extractEnvVar());
    EXPECT_EQ(dollar, "/home/cam/x");
    // A lone sign names nothing and is kept.
    kestrel::QXString lone("100% $ sure");
    EXPECT_TRUE(lone.extractEnvVar());
    EXPECT_EQ(lone, "100% $ sure");
}

TEST_F(EnvTest, SettingsFileFeedsExpansion)
{
    WriteRegistry("[SOFTWARE\\BRINDLE WORKS\\ENVIRONMENT]\nTRACEDIR=/var/trace\n");
    kestrel::QXString text("%TRACEDIR%/server.log");
    EXPECT_TRUE(text.extractEnvVar());
    EXPECT_EQ(text, "/var/trace/server.log");
}

TEST_F(EnvTest, ExtractEnvVarReportsSizeAndCopies)
{
    std::size_t size = 0;
    EXPECT_TRUE(ExtractEnvVar2("x%KESTREL_TEST_HOME%", {}, size));
    EXPECT_EQ(size, std::string("x/home/cam").size() + 1);
    std::array<char, 64> buffer{};
    EXPECT_EQ(ExtractEnvVar("x%KESTREL_TEST_HOME%", buffer), size);
    EXPECT_STREQ(buffer.data(), "x/home/cam");
    // A buffer that is too small gets a terminated prefix, nothing beyond it.
    std::array<char, 6> small{};
    small.fill('#');
    EXPECT_FALSE(ExtractEnvVar2("%UNSET%abcdefgh", std::span<char>(small.data(), 4), size));
    EXPECT_EQ(size, 9U);
    EXPECT_STREQ(small.data(), "abc");
    EXPECT_EQ(small[4], '#');
}

// A derived expander decides values itself; the base records missing ones.
class FixedExpander : public kestrel::CVarExpander {
public:
    void getValue(const std::string& reference, std::string& value) override
    {
        names.push_back(getVariableName(reference));
        value = "<" + names.back() + ">";
    }
    std::vector<std::string> names;
};

TEST_F(EnvTest, ExpanderLookUpIsOverridable)
{
    FixedExpander expander;
    std::string text = "%A%-$B_1$C-%D";
    expander.expand(text);
    EXPECT_EQ(text, "<A>-<B_1$C>-<D>");
    EXPECT_EQ(expander.names, (std::vector<std::string>{"A", "B_1$C", "D"}));
    EXPECT_TRUE(expander.allFound());

    kestrel::CVarExpander base;
    std::string other = "a%B%c";
    base.expand(other);
    EXPECT_EQ(other, "ac");
    EXPECT_FALSE(base.allFound());
}

}  // namespace
