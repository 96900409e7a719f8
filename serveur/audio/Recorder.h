// The sound recorder: while detection events keep coming, the sound of the
// capture device goes into one file per burst, named after the picture of the
// burst's first event ("vorlix_<n>.wav" beside the pictures: raw 8-bit stereo
// samples without a header).
//
// The three calls of the capture thread only decide and ask; the audio thread
// of this class creates, opens, writes and removes. So the capture thread
// never waits on the sound device or the disk. Its state (recording or not,
// the recording's number, times) is exact at once; what the audio thread does
// with it shows in the events window and the trace shortly after.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "serveur/actions/ActionSeams.h"
#include "serveur/audio/AudioConfig.h"
#include "serveur/audio/AudioFormat.h"
#include "serveur/audio/AudioNames.h"

namespace vorlix::audio {

class CaptureSession;

// A detection event as the recorder needs it.
struct RecorderEvent {
    int shots = 0;        // the shot counter after this event's picture was counted
    int maxJpg = 500;     // "Max jpg", the size of the rotating set
    std::string wavPath;  // RecordingPath(picture directory, PictureNumber(shots, maxJpg))
    int rate = kSampleRate;
};

class Recorder {
public:
    using Clock = std::function<std::time_t()>;

    // `clock` gives the seconds of every time rule (default: time()).
    explicit Recorder(Clock clock = {});
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // The events window, while open (null: closed). Lines are added from the
    // audio thread.
    void SetEventsWindow(EventsWindow* window) { window_.store(window); }
    void Configure(const AudioConfig& config);
    [[nodiscard]] AudioConfig Config() const;

    // Starts the audio thread. Until then, and after Stop, the calls below do nothing.
    void Start();
    // Ends a running recording as a forced stop (its file kept) and joins the
    // audio thread.
    void Stop();
    [[nodiscard]] bool Running() const { return running_.load(); }

    // After every detection, once its picture is counted: starts a recording
    // or extends the running one. 1 when no recording could be asked for.
    int RecorderOnEvent(const RecorderEvent& event);
    // After every analysed frame without detection: ends the recording after
    // "no activity time" seconds without event (kept when confirmed, else
    // removed). 1 when it ended one.
    int RecorderOnQuietFrame();
    // When a new reference image is made: ends the recording, file kept. 1
    // when there was one.
    int StopRecordingForced();

    [[nodiscard]] bool Recording() const;
    // The shot counter at which the running recording started, -1 when none.
    [[nodiscard]] int RecordingNumber() const;
    // Waits until the audio thread has carried out everything asked so far.
    bool WaitIdle(std::chrono::milliseconds limit) const;

private:
    struct Command {
        enum class Kind { kRemovePending, kRemoveOld, kStart, kEnd, kQuit };
        Command() = default;
        explicit Command(Kind what) : kind(what) {}

        Kind kind = Kind::kQuit;
        std::uint64_t session = 0;
        std::string path;
        int number = 0;  // picture number of the recording's file
        int device = 0;
        int rate = kSampleRate;
        RecorderLine line = RecorderLine::kStop;
        bool keep = false;
    };

    // Capture side (state lock held).
    void EndRecording(RecorderLine line, bool keep);
    bool Post(Command command, bool mayRefuse);
    void ResetState();

    // Audio thread.
    void Run();
    void Handle(const Command& command);
    void HandleStart(const Command& command);
    void HandleEnd(const Command& command);
    void StartFailed(std::uint64_t session);
    void WriteBlocks();
    // Removes a file with the "remove" traces; false when it is still there.
    static bool RemoveFile(const std::string& path);
    void AddLine(const std::string& line);

    Clock clock_;
    std::atomic<EventsWindow*> window_{nullptr};

    // What the capture thread decides with, and the audio thread clears when a start fails.
    mutable std::mutex stateMutex_;
    AudioConfig config_;
    std::uint64_t session_ = 0;  // the running recording's, or the last one's
    std::time_t startTime_ = 0;
    std::time_t lastEventTime_ = 0;
    int number_ = -1;     // "recording number"
    int fileNumber_ = 0;  // the picture number in the running recording's file name
    bool recording_ = false;
    bool confirmed_ = false;
    std::atomic<bool> running_{false};

    // Requests to the audio thread and the reader's "blocks filled".
    bool accepting_ = false;  // between Start and the quit request
    bool blocksReady_ = false;
    bool busy_ = false;
    mutable std::mutex queueMutex_;
    std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::deque<Command> queue_;
    std::thread thread_;

    // Audio thread only.
    std::unique_ptr<CaptureSession> capture_;
    std::uint64_t captureSession_ = 0;
    std::string pendingRemoval_;  // "a name of a file still to be deleted"
    bool writeFailed_ = false;
};

}  // namespace vorlix::audio
