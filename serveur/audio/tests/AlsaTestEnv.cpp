#include "serveur/audio/tests/AlsaTestEnv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/audio/AlsaPcm.h"

namespace vorlix::audio::test {

namespace {

kestrel::test::TempDir* g_dir = nullptr;

std::string AsoundRc(const std::string& dir)
{
    const auto file = [&](const std::string& name) { return "\"" + dir + "/" + name + "\""; };
    return "pcm.!default { type file; slave.pcm \"null\"; format \"raw\"; file " + file("default_out.raw") +
           "; infile " + file("capture_in.raw") + " }\n" +
           "pcm.vorlix_play { type file; slave.pcm \"null\"; format \"raw\"; file " + file("play_out.raw") +
           "; hint { show on; description \"Vorlix test playback\" } }\n" +
           "pcm.vorlix_fifo { type file; slave.pcm \"null\"; format \"raw\"; file " + file("fifo_echo.raw") +
           "; infile " + file("capture.fifo") + "; hint { show on; description \"Vorlix test FIFO capture\" } }\n" +
           "pcm.vorlix_broken { type file; slave.pcm \"vorlix_nowhere\"; format \"raw\"; file " + file("broken.raw") +
           "; hint { show on; description \"Vorlix test broken device\" } }\n";
}

class Environment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        dir_ = std::make_unique<kestrel::test::TempDir>("vorlix_alsa");
        g_dir = dir_.get();
        dir_->Write(".asoundrc", AsoundRc(dir_->Path()));
        ASSERT_EQ(::mkfifo(dir_->File("capture.fifo").c_str(), 0600), 0);
        // before the first ALSA call of the process: ALSA reads ~/.asoundrc once
        ::setenv("HOME", dir_->Path().c_str(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override
    {
        g_dir = nullptr;
        dir_.reset();
    }

private:
    std::unique_ptr<kestrel::test::TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new Environment);  // NOLINT(cppcoreguidelines-owning-memory): gtest owns it

int NumberIn(const std::vector<std::string>& names, const std::string& name)
{
    const auto at = std::find(names.begin(), names.end(), name);
    return at == names.end() ? -1 : static_cast<int>(at - names.begin()) + 1;
}

}  // namespace

const std::string& AlsaTestEnv::Dir()
{
    return g_dir->Path();
}

std::string AlsaTestEnv::CaptureInput()
{
    return Dir() + "/capture_in.raw";
}

std::string AlsaTestEnv::DefaultOutput()
{
    return Dir() + "/default_out.raw";
}

std::string AlsaTestEnv::PlayOutput()
{
    return Dir() + "/play_out.raw";
}

std::string AlsaTestEnv::FifoPath()
{
    return Dir() + "/capture.fifo";
}

int AlsaTestEnv::CaptureNumber(const std::string& name)
{
    return NumberIn(PcmDeviceNames(PcmDirection::kCapture), name);
}

int AlsaTestEnv::PlaybackNumber(const std::string& name)
{
    return NumberIn(PcmDeviceNames(PcmDirection::kPlayback), name);
}

std::string PatternBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

}  // namespace vorlix::audio::test
