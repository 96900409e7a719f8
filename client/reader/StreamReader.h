// The viewer's side of the stream protocol over a socket: connect, answer
// the password request, ask for history pictures and cut the incoming bytes
// into JPEG frames.
//
// ReadFrame never blocks its caller for long: it waits at most 10 ms for a
// header when idle, and a frame body that has not arrived yet is completed by
// later calls (each bounded by the same budget) instead of one long wait. The
// connection counts as lost only after 5 seconds without a byte of a started
// body. Bytes read beyond the current frame (its trailer, the next header)
// are kept for the next call, so frames that arrive back to back are all
// delivered.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/reader/FrameScan.h"
#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::client {

// ReadFrame's results besides a live frame's positive length and a history
// frame's negated length (below -2).
inline constexpr int kReadNothing = 0;
inline constexpr int kReadLost = -1;
inline constexpr int kReadPasswordRequest = -2;

class StreamReader {
public:
    struct Limits {
        // Silence that ends a started body (and the connection).
        std::chrono::milliseconds bodySilence{5000};
        // Longest wait inside one call.
        std::chrono::milliseconds callBudget{10};
    };

    StreamReader() = default;
    explicit StreamReader(Limits limits) : limits_(limits) {}

    // Connects to `host`:`port`. On success the password request is awaited
    // and what was left of an earlier connection is forgotten. The result is
    // empty on failure, with the error in ErrorLast(). Never descriptor 0.
    kestrel::UniqueFd ConnectToServer(const std::string& host, int port);

    // "Password: " + the password scrambled with the last challenge + CR LF,
    // in one send; the result is not checked (a lost peer shows on reads).
    void SendPasswordAnswer(int socket, std::string_view plain) const;
    // "History: " + argument + CR LF, in one send.
    static void SendHistoryRequest(int socket, std::string_view argument);

    // One step of reading: a live frame's length n > 0 (its bytes are then in
    // `frame`, which is resized to n), kReadLost, kReadPasswordRequest (see
    // Challenge()), -n < -2 for a history frame (see History()), or
    // kReadNothing. Frames longer than `capacity` are skipped with a trace.
    int ReadFrame(int socket, std::vector<std::uint8_t>& frame, std::size_t capacity = kFrameCapacity);

    [[nodiscard]] const std::string& HostName() const { return host_; }
    [[nodiscard]] bool AwaitingPassword() const { return awaitingPassword_; }
    [[nodiscard]] std::int32_t Challenge() const { return challenge_; }

    // The last history frame and its header fields; 0 and none until one.
    [[nodiscard]] const std::vector<std::uint8_t>& HistoryPicture() const { return history_; }
    [[nodiscard]] int IndiceLast() const { return indiceLast_; }
    [[nodiscard]] int Modulo() const { return modulo_; }
    [[nodiscard]] const std::optional<std::string>& Time() const { return time_; }

private:
    using Clock = std::chrono::steady_clock;

    struct Body {
        bool active = false;
        bool history = false;
        HistoryFields fields;
        std::size_t length = 0;
        std::size_t filled = 0;
        std::size_t fromFirstRead = 0;
        Clock::time_point lastByte;
    };

    void ForgetConnection();
    int ReadHeader(int socket, std::vector<std::uint8_t>& frame, std::size_t capacity, Clock::time_point end);
    int StartBody(const WindowScan& scan, std::string_view window, int socket, std::vector<std::uint8_t>& frame,
                  Clock::time_point end);
    int ContinueBody(int socket, std::vector<std::uint8_t>& frame, Clock::time_point end);
    int FinishBody(std::vector<std::uint8_t>& frame);
    // Discards the rest of a refused frame; false when the connection is lost.
    bool Skip(int socket, Clock::time_point end);
    // Waits for more bytes until `end` or the silence limit; false on silence or a socket error.
    bool WaitForBytes(int socket, Clock::time_point end, Clock::time_point lastByte);
    // Ends the connection's partial state; `traced` adds the failure lines.
    int Lost(bool traced = true);

    Limits limits_;
    std::string host_;
    bool awaitingPassword_ = false;
    std::int32_t challenge_ = 0;
    std::string carry_;
    Body body_;
    std::vector<std::uint8_t> staging_;
    std::size_t skipLeft_ = 0;
    Clock::time_point skipLastByte_;
    std::vector<std::uint8_t> history_;
    int indiceLast_ = 0;
    int modulo_ = 0;
    std::optional<std::string> time_;
};

}  // namespace vorlix::client
