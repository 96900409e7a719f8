// The sound devices of the audio tests: no sound card is needed. A private
// HOME holds an .asoundrc whose devices are ALSA "file" PCMs over the "null"
// device: capture reads a file the test writes, playback writes a file the
// test reads.
//
//   "default"         capture reads CaptureInput(), playback writes DefaultOutput()
//   "vorlix_play"     playback writes PlayOutput()
//   "vorlix_fifo"     capture reads the FIFO FifoPath(): opening it waits for a writer
//   "vorlix_broken"   refuses to open (its slave does not exist)
#pragma once

#include <cstddef>
#include <string>

namespace vorlix::audio::test {

class AlsaTestEnv {
public:
    static const std::string& Dir();
    static std::string CaptureInput();
    static std::string DefaultOutput();
    static std::string PlayOutput();
    static std::string FifoPath();
    // The number of a test device in its direction's list (as "device in"/"device out" take it).
    static int CaptureNumber(const std::string& name);
    static int PlaybackNumber(const std::string& name);
};

// Deterministic bytes that no two offsets share by accident.
std::string PatternBytes(std::size_t size, unsigned seed);

}  // namespace vorlix::audio::test
