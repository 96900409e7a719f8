// What the browser view's tests share: curl as the browser, a feeder that
// plays the capture thread, frames, certificates and the parts of a stream.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "libkestrel/framework/UniqueFd.h"
#include "libkestrel/testkit/TestKit.h"
#include "serveur/core/Road.h"

namespace vorlix::web::test {

using namespace std::chrono_literals;
using kestrel::test::TempDir;
using kestrel::test::WaitUntil;

struct CurlResult {
    int exit = -1;   // curl's exit status; -1 when it had to be killed
    int status = 0;  // HTTP status
    std::string body;
    std::string headers;
    double seconds = 0;
};

// Runs /usr/bin/curl with `args` (the address among them) against
// 127.0.0.1; killed after `limit`.
CurlResult Curl(const std::vector<std::string>& args, std::chrono::milliseconds limit = 15s);

// curl as a child process the test lets run (a live viewer).
class CurlChild {
public:
    explicit CurlChild(const std::vector<std::string>& args);
    ~CurlChild();
    CurlChild(const CurlChild&) = delete;
    CurlChild& operator=(const CurlChild&) = delete;
    // Waits for its end (or kills it after `limit`); the bytes it received.
    std::string Finish(std::chrono::milliseconds limit = 15s);
    // True while it runs (an ended one is reaped here).
    bool Running();
    // Its exit status once ended: -1 when killed or still running.
    [[nodiscard]] int Exit() const { return exit_; }

private:
    TempDir dir_{"vorlix_web_curl"};
    pid_t pid_ = -1;
    int exit_ = -1;
};

// A browser's request on a plain socket to 127.0.0.1, read as fast or as
// slowly as the test likes (a live viewer that stalls, or leaves).
class RawViewer {
public:
    // Sends "GET `path`"; a `receiveBuffer` above 0 is set before connecting.
    RawViewer(int port, const std::string& path, int receiveBuffer = 0);
    [[nodiscard]] bool Connected() const { return connected_; }
    // Reads what comes for `time`; false once the server has closed.
    bool ReadFor(std::chrono::milliseconds time);
    // Reads on until the server closes, at most `limit`.
    bool ClosedWithin(std::chrono::milliseconds limit);
    // Reads on until `parts` pictures came, at most `limit`.
    bool PartsWithin(std::size_t parts, std::chrono::milliseconds limit);
    // The complete pictures received so far.
    [[nodiscard]] std::vector<std::string> Parts() const;
    [[nodiscard]] const std::string& Bytes() const { return bytes_; }
    void Leave() { fd_.Reset(); }

private:
    kestrel::UniqueFd fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::string bytes_;
};

// The JPEGs of a multipart stream body, each checked against its
// Content-Length; stops at the first part that does not hold together
// (the last one, cut by the end of the transfer).
std::vector<std::string> MjpegParts(const std::string& body);
bool LooksLikeJpeg(const std::string& bytes);

// A 24-bit top-down frame: a grey field with a bright square at `x`.
std::vector<std::uint8_t> SquareFrame(int width, int height, int x);

// Plays the capture thread: `hz` frames a second offered to `consumer` as
// the camera does, the frame made by `make(n)` for frame n.
class Feeder {
public:
    Feeder(DetectionConsumer& consumer, int width, int height, int hz, bool moving);
    ~Feeder();
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;
    [[nodiscard]] int Frames() const { return frames_.load(); }
    [[nodiscard]] int Offered() const { return offered_.load(); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> frames_{0}, offered_{0};
    std::thread thread_;
};

// A self-signed certificate for 127.0.0.1 and its key, made with openssl
// in `dir`; false when openssl failed.
bool MakeCertificate(const std::string& dir, std::string& certificate, std::string& key);

}  // namespace vorlix::web::test
