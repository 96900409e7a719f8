// Helpers of the stream server tests: a camera of the tests' own, a viewer on
// a real TCP connection, JPEG pictures, and the server program run as a child
// under chosen limits. Scratch directories, deadline waits and trace capture
// come from the shared test kit.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/stream/StreamCamera.h"

namespace vorlix {
class StreamServer;
}

namespace vorlix::testkit {

using namespace std::chrono_literals;
using kestrel::test::ReadFile;
using kestrel::test::TempDir;
using kestrel::test::TraceCapture;
using kestrel::test::WaitUntil;
using kestrel::test::WriteFile;

class TestCamera final : public StreamCamera {
public:
    // Listens on a free port (see StartOnFreePort).
    explicit TestCamera(std::string pictureDir);

    [[nodiscard]] StreamSettings Settings() const override;
    [[nodiscard]] int Shots() const override;
    [[nodiscard]] int MaxJpg() const override;
    [[nodiscard]] std::string PictureDir() const override { return dir_; }
    void AddEventText(const std::string& text) override;
    void ApplyStreamThreadPriority() override {}

    void SetPort(int port);
    void SetPassword(const std::string& password);
    void SetPasswordUnreadable(bool unreadable);
    void SetFrequency(int milliseconds);
    void SetMaxClients(int count);
    void SetShots(int shots, int maxJpg);
    [[nodiscard]] std::vector<std::string> EventTexts() const;
    [[nodiscard]] int CountEvent(const std::string& text) const;

private:
    std::string dir_;
    mutable std::mutex lock_;
    StreamSettings settings_{0, "", 0};
    int shots_ = 0;
    int maxJpg_ = 500;
    std::vector<std::string> events_;
};

// Starts `server`, moving `camera` to another free port when the one it had
// was taken meanwhile. The listening socket, or what the last start returned.
int StartOnFreePort(StreamServer& server, TestCamera& camera);

// A real JPEG of `width` x `height` whose picture depends on `seed`.
std::string MakeJpeg(int width, int height, int seed);

// A viewer connection on 127.0.0.1.
class Viewer {
public:
    // `receiveBuffer` > 0 shrinks the socket's receive buffer before connecting.
    explicit Viewer(int port, int receiveBuffer = 0, int localPort = 0);
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    [[nodiscard]] bool Connected() const { return static_cast<bool>(fd_); }
    [[nodiscard]] int Socket() const { return fd_.Get(); }
    [[nodiscard]] int LocalPort() const;
    void Send(const std::string& bytes);
    // Exactly `count` more bytes, or what came before the time ran out.
    std::string Read(std::size_t count, std::chrono::milliseconds limit = 3s);
    // Bytes up to and including `marker`; nullopt when it did not come in time.
    std::optional<std::string> ReadUntil(const std::string& marker, std::chrono::milliseconds limit = 3s);
    // Whether any byte arrives within `limit` (the byte is kept for later reads).
    bool AnythingWithin(std::chrono::milliseconds limit);
    // Whether the server closed the connection within `limit` (bytes before the end are dropped).
    bool ClosedWithin(std::chrono::milliseconds limit);

    struct Frame {
        std::string header;  // from the boundary line to the empty line
        std::string body;
        bool history = false;
    };
    // The next frame: header, Content-Length bytes and the trailer.
    std::optional<Frame> ReadFrame(std::chrono::milliseconds limit = 3s);
    // The head (173 bytes) and, when asked, the AskPassword line's number.
    bool ReadHead();
    std::optional<std::int32_t> ReadChallenge(std::chrono::milliseconds limit = 3s);
    // "Password: <scrambled>\r\n" for `challenge`.
    static std::string Answer(std::int32_t challenge, const std::string& password);
    void Close();
    // Closes with a reset (RST) instead of an orderly close.
    void Reset();

private:
    bool Fill(std::chrono::steady_clock::time_point deadline);
    kestrel::UniqueFd fd_;
    std::string buffered_;
};

// The header field `name` ("Content-Length", "IndiceLast", ...) of a frame.
std::string HeaderField(const std::string& header, const std::string& name);

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
