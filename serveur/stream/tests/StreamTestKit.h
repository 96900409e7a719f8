// Helpers of the stream server tests: a camera of the tests' own, a viewer
// on a real TCP connection, picture files and a trace recorder.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serveur/stream/StreamCamera.h"

namespace vorlix::testkit {

using namespace std::chrono_literals;

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::string& Path() const { return path_; }
    [[nodiscard]] std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class TestCamera final : public StreamCamera {
public:
    explicit TestCamera(std::string pictureDir) : dir_(std::move(pictureDir)) {}

    [[nodiscard]] StreamSettings Settings() const override;
    [[nodiscard]] int Shots() const override;
    [[nodiscard]] int MaxJpg() const override;
    [[nodiscard]] std::string PictureDir() const override { return dir_; }
    void AddEventText(const std::string& text) override;
    void ApplyStreamThreadPriority() override {}

    void SetPassword(const std::string& password);
    void SetFrequency(int milliseconds);
    void SetShots(int shots, int maxJpg);
    [[nodiscard]] std::vector<std::string> EventTexts() const;

private:
    std::string dir_;
    mutable std::mutex lock_;
    StreamSettings settings_{0, "", 0};  // port 0: the system picks one
    int shots_ = 0;
    int maxJpg_ = 500;
    std::vector<std::string> events_;
};

// Writes `bytes` to `path` (replaced atomically, as the camera writes pictures).
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// A real JPEG of `width` x `height` whose picture depends on `seed`.
std::string MakeJpeg(int width, int height, int seed);

// A viewer connection on 127.0.0.1.
class Viewer {
public:
    // `receiveBuffer` > 0 shrinks the socket's receive buffer before connecting.
    explicit Viewer(int port, int receiveBuffer = 0, int localPort = 0);
    ~Viewer();
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    [[nodiscard]] bool Connected() const { return fd_ >= 0; }
    [[nodiscard]] int Socket() const { return fd_; }
    [[nodiscard]] int LocalPort() const;
    void Send(const std::string& bytes);
    // Exactly `count` more bytes, or what came before the time ran out.
    std::string Read(std::size_t count, std::chrono::milliseconds limit = 3s);
    // Bytes up to and including `marker`; nullopt when it did not come in time.
    std::optional<std::string> ReadUntil(const std::string& marker, std::chrono::milliseconds limit = 3s);
    // Whether any byte arrives within `limit` (the byte is kept for later reads).
    bool AnythingWithin(std::chrono::milliseconds limit);

    struct Frame {
        std::string header;  // from the boundary line to the empty line
        std::string body;
        bool history = false;
    };
    // The next frame: header, Content-Length bytes and the trailer.
    std::optional<Frame> ReadFrame(std::chrono::milliseconds limit = 3s);
    // The head (173 bytes) and, when asked, the AskPassword line's number.
    bool ReadHead();
    std::optional<std::int32_t> ReadChallenge();
    void Close();
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();

private:
    bool Fill(std::chrono::steady_clock::time_point deadline);
    int fd_ = -1;
    std::string buffered_;
};

// The header field `name` ("Content-Length", "IndiceLast", ...) of a frame.
std::string HeaderField(const std::string& header, const std::string& name);

// Records trace lines while alive (the hooks are restored afterwards).
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;
    [[nodiscard]] std::vector<std::string> Lines() const;
    [[nodiscard]] int Count(const std::string& part) const;
};

// Waits until `condition` holds, at most `limit`; returns the last result.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 3s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return condition();
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Runs `argv` (found on PATH, no shell) with its output in `outPath` and its
// errors in `errPath`; killed when it outlives `limit`. The exit status, or
// -1 when it had to be killed or could not start.
int RunProgram(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath,
               std::chrono::milliseconds limit);
// Whether `program` is on PATH.
bool HaveProgram(const std::string& program);

// Open descriptors and threads of this process.
int OpenDescriptors();
int ThreadCount();

}  // namespace vorlix::testkit
