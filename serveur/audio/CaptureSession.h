// One recording in progress: the capture device, the recording file, and the
// thread that reads the device into 4096-byte blocks. The owner (the
// recorder's audio thread) writes the filled blocks to the file; twenty
// blocks are in flight between the two, so a slow disk costs no sound until
// they are all waiting.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/AudioPacing.h"

namespace vorlix::audio {

class CaptureSession {
public:
    // Called on the reading thread after a block was filled.
    using BlockReady = std::function<void()>;

    CaptureSession(PcmHandle pcm, kestrel::UniqueFd file, std::string path, int rate, BlockReady ready);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Starts the device and the reading thread. 0, or the ALSA error of the
    // start with errno in `systemError`.
    int Start(int& systemError);
    // Writes the filled blocks to the file in order; false (errno set) when a
    // write failed, the block being lost.
    bool WriteFilled();
    // Ends the reading (a block being filled is not kept) and closes the
    // device; the blocks filled before stay for WriteFilled.
    void StopDevice();
    // Closes the file; false (errno set) when the close failed.
    bool CloseFile();

    [[nodiscard]] const std::string& Path() const { return path_; }
    // Bytes the reader had to drop because every block was waiting for the file.
    [[nodiscard]] std::int64_t DroppedBytes() const { return dropped_.load(); }

private:
    using Block = std::array<std::uint8_t, kBlockBytes>;

    void ReadLoop();
    // Fills `block` from the device; false when stopped or the device failed.
    bool Fill(Block& block);
    // A free block, or -1 when all are waiting for the file.
    int TakeFree();

    PcmHandle pcm_;
    kestrel::UniqueFd file_;
    std::string path_;
    int rate_;
    BlockReady ready_;
    StopSignal stop_;
    std::thread reader_;

    std::unique_ptr<std::array<Block, kBlocksInFlight>> blocks_;
    std::unique_ptr<Block> scratch_;  // reader only: where the sound goes when no block is free
    std::mutex lists_;
    std::vector<int> free_;
    std::deque<int> filled_;
    std::atomic<std::int64_t> dropped_{0};
};

}  // namespace vorlix::audio
