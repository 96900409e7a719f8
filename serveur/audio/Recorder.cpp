#include "serveur/audio/Recorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/audio/AlsaPcm.h"
#include "serveur/audio/CaptureSession.h"

namespace vorlix::audio {

namespace {

// Requests the capture thread may have waiting for the audio thread. Only a
// stuck disk fills this; new recordings and removals are then refused, while
// the end of a running recording is always accepted.
constexpr std::size_t kMaxQueued = 1024;

}  // namespace

Recorder::Recorder(Clock clock) : clock_(std::move(clock)) {}

Recorder::~Recorder()
{
    Stop();
}

void Recorder::Configure(const AudioConfig& config)
{
    const std::lock_guard lock(stateMutex_);
    config_ = config;
}

AudioConfig Recorder::Config() const
{
    const std::lock_guard lock(stateMutex_);
    return config_;
}

void Recorder::Start()
{
    if (running_.load()) {
        return;
    }
    {
        const std::lock_guard lock(stateMutex_);
        ResetState();
    }
    {
        const std::lock_guard lock(queueMutex_);
        queue_.clear();
        accepting_ = true;
        blocksReady_ = false;
        busy_ = false;
    }
    running_.store(true);
    thread_ = std::thread([this] { Run(); });
}

void Recorder::Stop()
{
    if (!running_.load()) {
        return;
    }
    {
        const std::lock_guard lock(stateMutex_);
        if (recording_) {
            EndRecording(RecorderLine::kForcedStop, true);
        }
        running_.store(false);
        Post(Command{Command::Kind::kQuit}, false);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

// ---- Capture thread --------------------------------------------------------

int Recorder::RecorderOnEvent(const RecorderEvent& event)
{
    if (!running_.load()) {
        return 0;
    }
    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    const std::lock_guard lock(stateMutex_);
    if (!running_.load() || !config_.Enabled()) {
        return 0;
    }
    lastEventTime_ = now;
    Post(Command{Command::Kind::kRemovePending}, true);

    if (recording_ && PictureNumber(event.shots, event.maxJpg) == PictureNumber(number_, event.maxJpg)) {
        // the rotating set is back at the recording's own picture
        EndRecording(RecorderLine::kAbort, false);
        return 0;
    }

    // the older recording of this picture number is superseded, recording or not
    Command old{Command::Kind::kRemoveOld};
    old.path = event.wavPath;
    Post(std::move(old), true);

    if (!recording_) {
        Command start{Command::Kind::kStart};
        start.session = session_ + 1;
        start.path = event.wavPath;
        start.number = PictureNumber(event.shots, event.maxJpg);
        start.device = config_.deviceIn;
        start.rate = event.rate;
        const int fileNumber = start.number;
        if (!Post(std::move(start), true)) {
            TRACE_WARN("Recorder busy: no recording into %s", event.wavPath.c_str());
            return 1;
        }
        ++session_;
        recording_ = true;
        number_ = event.shots;
        fileNumber_ = fileNumber;
        startTime_ = now;
        confirmed_ = false;
        return 0;
    }

    const std::time_t elapsed = now - startTime_;
    if (!confirmed_ && elapsed > config_.minTime) {
        TRACE_INFO("CONFIRM register");
        confirmed_ = true;
    }
    if (config_.maxTime > 0 && elapsed > config_.maxTime) {
        // ended and kept: the next event starts a new recording
        TRACE_INFO("Max register");
        EndRecording(RecorderLine::kMaxTime, true);
    }
    return 0;
}

int Recorder::RecorderOnQuietFrame()
{
    if (!running_.load()) {
        return 0;
    }
    const std::time_t now = clock_ ? clock_() : std::time(nullptr);
    const std::lock_guard lock(stateMutex_);
    if (!recording_ || now - lastEventTime_ <= config_.noActivityTime) {
        return 0;
    }
    if (confirmed_) {
        EndRecording(RecorderLine::kStop, true);
    } else {
        EndRecording(RecorderLine::kAbort, false);
    }
    return 1;
}

int Recorder::StopRecordingForced()
{
    const std::lock_guard lock(stateMutex_);
    if (!recording_) {
        return 0;
    }
    EndRecording(RecorderLine::kForcedStop, true);
    return 1;
}

bool Recorder::Recording() const
{
    const std::lock_guard lock(stateMutex_);
    return recording_;
}

int Recorder::RecordingNumber() const
{
    const std::lock_guard lock(stateMutex_);
    return number_;
}

bool Recorder::WaitIdle(std::chrono::milliseconds limit) const
{
    std::unique_lock lock(queueMutex_);
    return idle_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
}

void Recorder::EndRecording(RecorderLine line, bool keep)
{
    Command end{Command::Kind::kEnd};
    end.session = session_;
    end.number = fileNumber_;
    end.line = line;
    end.keep = keep;
    Post(std::move(end), false);
    ResetState();
}

void Recorder::ResetState()
{
    recording_ = false;
    number_ = -1;
    startTime_ = 0;
    confirmed_ = false;
}

bool Recorder::Post(Command command, bool mayRefuse)
{
    {
        const std::lock_guard lock(queueMutex_);
        if (!accepting_) {
            return false;
        }
        if (command.kind == Command::Kind::kQuit) {
            accepting_ = false;
        }
        if (mayRefuse && queue_.size() >= kMaxQueued) {
            return false;
        }
        queue_.push_back(std::move(command));
    }
    wake_.notify_one();
    return true;
}

// ---- Audio thread ----------------------------------------------------------

void Recorder::Run()
{
    for (;;) {
        Command command;
        bool have = false;
        bool blocks = false;
        {
            std::unique_lock lock(queueMutex_);
            wake_.wait(lock, [this] { return !queue_.empty() || blocksReady_; });
            blocks = std::exchange(blocksReady_, false);
            if (!queue_.empty()) {
                command = std::move(queue_.front());
                queue_.pop_front();
                have = true;
                busy_ = true;
            }
        }
        if (blocks) {
            WriteBlocks();
        }
        if (!have) {
            continue;
        }
        const bool quit = command.kind == Command::Kind::kQuit;
        if (!quit) {
            Handle(command);
        }
        {
            const std::lock_guard lock(queueMutex_);
            busy_ = false;
        }
        idle_.notify_all();
        if (quit) {
            break;
        }
    }
    // a recording whose end could not be asked for any more
    if (capture_) {
        capture_->StopDevice();
        WriteBlocks();
        capture_->CloseFile();
        capture_.reset();
    }
}

void Recorder::Handle(const Command& command)
{
    switch (command.kind) {
        case Command::Kind::kRemovePending:
            if (!pendingRemoval_.empty()) {
                RemoveFile(pendingRemoval_);
                pendingRemoval_.clear();
            }
            break;
        case Command::Kind::kRemoveOld:
            if (::unlink(command.path.c_str()) == 0) {
                TRACE_INFO("remove old %s", command.path.c_str());
            } else if (errno != ENOENT) {
                TRACE_WARN("error during old file removing (%s)(%d)", command.path.c_str(), errno);
            }
            break;
        case Command::Kind::kStart:
            HandleStart(command);
            break;
        case Command::Kind::kEnd:
            HandleEnd(command);
            break;
        case Command::Kind::kQuit:
            break;
    }
}

void Recorder::HandleStart(const Command& command)
{
    const std::string& path = command.path;
    TRACE_INFO("creation %s", path.c_str());
    kestrel::UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file) {
        TRACE_WARN("Unable to create %s", path.c_str());
        TRACE_WARN_DETAIL();
        StartFailed(command.session);
        return;
    }
    const auto fail = [&](const char* what, int error, int systemError) {
        errno = systemError;
        TRACE_WARN("%s (%d)(%d)", what, error, systemError);
        // the new file goes with the failed start (the device never wrote to it)
        file.Reset();
        RemoveFile(path);
        StartFailed(command.session);
    };

    const std::optional<std::string> device = PcmDeviceName(command.device, PcmDirection::kCapture);
    if (!device) {
        fail("waveInOpen", -ENODEV, ENODEV);
        return;
    }
    PcmOpenResult opened = OpenPcm(*device, PcmDirection::kCapture, SampleFormat::kU8, kChannels, command.rate);
    if (!opened.pcm) {
        fail("waveInOpen", opened.error, opened.systemError);
        return;
    }
    auto session = std::make_unique<CaptureSession>(std::move(opened.pcm), std::move(file), path, command.rate, [this] {
        {
            const std::lock_guard lock(queueMutex_);
            blocksReady_ = true;
        }
        wake_.notify_one();
    });
    int systemError = 0;
    const int started = session->Start(systemError);
    if (started < 0) {
        session->StopDevice();
        session->CloseFile();
        session.reset();
        errno = systemError;
        TRACE_WARN("waveInStart (%d)(%d)", started, systemError);
        RemoveFile(path);
        StartFailed(command.session);
        return;
    }
    TRACE_DEBUG("recording %s from %s", path.c_str(), device->c_str());
    capture_ = std::move(session);
    captureSession_ = command.session;
    writeFailed_ = false;
    AddLine(RecorderLineText(RecorderLine::kStart, command.number));
    TRACE_INFO("start recorder");
}

void Recorder::HandleEnd(const Command& command)
{
    if (!capture_ || captureSession_ != command.session) {
        return;  // its start failed: nothing was recorded
    }
    capture_->StopDevice();
    const std::string path = capture_->Path();
    if (const std::int64_t dropped = capture_->DroppedBytes(); dropped > 0) {
        TRACE_WARN("%s: %lld bytes of sound lost, the disk did not keep up", path.c_str(),
                   static_cast<long long>(dropped));
    }
    const std::string line = RecorderLineText(command.line, command.number);
    if (command.keep) {
        WriteBlocks();
        if (!capture_->CloseFile()) {
            TRACE_WARN("Unable to write %s", path.c_str());
            TRACE_WARN_DETAIL();
        }
        capture_.reset();
        AddLine(line);
        TRACE_INFO("%s", line.c_str());
        return;
    }
    capture_->CloseFile();
    capture_.reset();
    AddLine(line);
    TRACE_INFO("(%s)", line.c_str());
    if (!RemoveFile(path)) {
        pendingRemoval_ = path;  // tried again at the next event
    }
}

void Recorder::StartFailed(std::uint64_t session)
{
    const std::lock_guard lock(stateMutex_);
    if (recording_ && session_ == session) {
        ResetState();  // the next event tries again
    }
}

void Recorder::WriteBlocks()
{
    if (!capture_ || capture_->WriteFilled()) {
        return;
    }
    if (!writeFailed_) {
        writeFailed_ = true;
        TRACE_WARN("Unable to write %s", capture_->Path().c_str());
        TRACE_WARN_DETAIL();
    }
}

bool Recorder::RemoveFile(const std::string& path)
{
    if (::unlink(path.c_str()) == 0) {
        TRACE_INFO("remove %s", path.c_str());
        return true;
    }
    if (errno == ENOENT) {
        return true;
    }
    TRACE_WARN("error during file removing (%s)(%d)", path.c_str(), errno);
    return false;
}

void Recorder::AddLine(const std::string& line)
{
    if (EventsWindow* window = window_.load(); window != nullptr) {
        window->AddEntry(line);
    }
}

}  // namespace vorlix::audio
