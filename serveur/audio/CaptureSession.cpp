#include "serveur/audio/CaptureSession.h"

#include <alsa/asoundlib.h>

#include <cerrno>

#include "libkestrel/framework/FileIo.h"
#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::audio {

namespace {

using namespace std::chrono_literals;

constexpr int kWaitMilliseconds = 100;
// A clockless device may run this far ahead of real time (the device buffer).
constexpr auto kCaptureLead = 500ms;

}  // namespace

CaptureSession::CaptureSession(PcmHandle pcm, kestrel::UniqueFd file, std::string path, int rate, BlockReady ready)
    : pcm_(std::move(pcm)),
      file_(std::move(file)),
      path_(std::move(path)),
      rate_(rate),
      ready_(std::move(ready)),
      blocks_(std::make_unique<std::array<Block, kBlocksInFlight>>()),
      scratch_(std::make_unique<Block>())
{
    free_.reserve(kBlocksInFlight);
    for (int i = kBlocksInFlight - 1; i >= 0; --i) {
        free_.push_back(i);
    }
}

CaptureSession::~CaptureSession()
{
    StopDevice();
}

int CaptureSession::Start(int& systemError)
{
    errno = 0;
    const int started = snd_pcm_start(pcm_.get());
    if (started < 0) {
        systemError = errno;
        return started;
    }
    reader_ = std::thread([this] { ReadLoop(); });
    return 0;
}

int CaptureSession::TakeFree()
{
    const std::lock_guard lock(lists_);
    if (free_.empty()) {
        return -1;
    }
    const int index = free_.back();
    free_.pop_back();
    return index;
}

void CaptureSession::ReadLoop()
{
    const RealTimePacer pacer(rate_ * kBlockAlign, std::chrono::duration_cast<std::chrono::milliseconds>(kCaptureLead));
    std::int64_t read = 0;
    while (!stop_.Raised()) {
        const auto delay = pacer.DelayBefore(read + static_cast<std::int64_t>(kBlockBytes));
        if (delay > 0ns && !stop_.SleepFor(delay)) {
            return;
        }
        const int index = TakeFree();
        Block& block = index >= 0 ? (*blocks_)[static_cast<std::size_t>(index)] : *scratch_;
        const bool full = Fill(block);
        {
            const std::lock_guard lock(lists_);
            if (index >= 0) {
                if (full) {
                    filled_.push_back(index);
                } else {
                    free_.push_back(index);
                }
            } else if (full) {
                dropped_ += static_cast<std::int64_t>(kBlockBytes);
            }
        }
        if (!full) {
            return;
        }
        read += static_cast<std::int64_t>(kBlockBytes);
        if (ready_) {
            ready_();
        }
    }
}

bool CaptureSession::Fill(Block& block)
{
    snd_pcm_t* const pcm = pcm_.get();
    std::size_t filled = 0;
    while (filled < block.size()) {
        if (stop_.Raised()) {
            return false;
        }
        const auto frames = static_cast<snd_pcm_uframes_t>((block.size() - filled) / kBlockAlign);
        snd_pcm_sframes_t got = snd_pcm_readi(pcm, block.data() + filled, frames);
        if (got == -EAGAIN) {
            got = snd_pcm_wait(pcm, kWaitMilliseconds);
            if (got >= 0) {
                continue;
            }
        }
        if (got < 0) {
            // an overrun (the thread was late) is mended and reading goes on
            const int mended = snd_pcm_recover(pcm, static_cast<int>(got), 1);
            if (mended < 0) {
                TRACE_WARN("waveInAddBuffer dans WaveBack((%d) (%d)", static_cast<int>(got), errno);
                TRACE_WARN_DETAIL();
                return false;
            }
            continue;
        }
        filled += static_cast<std::size_t>(got) * kBlockAlign;
    }
    return true;
}

bool CaptureSession::WriteFilled()
{
    bool written = true;
    for (;;) {
        int index = -1;
        {
            const std::lock_guard lock(lists_);
            if (filled_.empty()) {
                return written;
            }
            index = filled_.front();
            filled_.pop_front();
        }
        const Block& block = (*blocks_)[static_cast<std::size_t>(index)];
        if (!kestrel::WriteAll(file_.Get(), block.data(), block.size())) {
            written = false;
        }
        const std::lock_guard lock(lists_);
        free_.push_back(index);
    }
}

void CaptureSession::StopDevice()
{
    stop_.Raise();
    if (reader_.joinable()) {
        reader_.join();
    }
    if (pcm_) {
        snd_pcm_drop(pcm_.get());
        pcm_.reset();
    }
}

bool CaptureSession::CloseFile()
{
    return file_.Close();
}

}  // namespace vorlix::audio
