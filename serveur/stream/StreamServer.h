// The stream server of a camera: a listening socket, one stream thread and
// the connected viewers. The camera calls NotifyNewImage for every picture
// meant for viewers; the notification only records the path and wakes the
// stream thread, which alone accepts, reads requests and sends bytes. The
// client list belongs to that thread: other threads see counts and states.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/core/Hooks.h"
#include "serveur/stream/PasswordGate.h"
#include "serveur/stream/PictureFanout.h"
#include "serveur/stream/StreamAcceptor.h"
#include "serveur/stream/StreamCamera.h"
#include "serveur/stream/StreamClient.h"

namespace vorlix {

// The texts the server shows the user (translated by the caller) when
// StartStreamServer returns 0.
inline constexpr const char* kServerInstallError = "error during server installation";
inline constexpr const char* kServerWarningCaption = "Server warning";

// How long things may take; the defaults are the program's, tests shorten them.
struct StreamTimings {
    // A viewer that has not taken a whole frame this long after it began is closed.
    std::chrono::milliseconds frameDeadline{5000};
    GuessLimits guesses{};
};

class StreamServer final : public ImageNotifier {
public:
    static constexpr int kDefaultMaxClients = 100;
    static constexpr int kMaxClientsLimit = 1000;

    explicit StreamServer(StreamCamera& camera, StreamTimings timings = {});
    ~StreamServer() override;
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    // Listens on the camera's port and starts the stream thread: the
    // listening socket (positive), 0 when the server cannot listen (port
    // outside 1..65535, port busy, unreadable password: see OffReason), -1
    // when the thread cannot be created. The server counts as running
    // whatever the result; a second start while running returns the current
    // socket (0 when none). Stop, then start again, to retry.
    int StartStreamServer();
    // Ends the thread (joined), closes every client and the listening socket.
    // Does nothing when not running.
    void StopStreamServer();
    // Any thread, never waits on a socket; null: resend the last picture.
    void NotifyNewImage(const char* path) override;
    // Client records; 0 when not running.
    [[nodiscard]] int CountStreamClients() const;
    [[nodiscard]] bool Running() const { return running_.load(); }
    // Whether viewers can connect: running and the start succeeded.
    [[nodiscard]] bool Listening() const { return listening_.load(); }
    // Why the stream is off ("port 6666: Address already in use"); empty
    // while listening.
    [[nodiscard]] std::string OffReason() const;
    // 0 idle, 1 a notified picture is not handled yet or a frame is on its
    // way to some viewer, 2 stopping.
    [[nodiscard]] int StreamState() const { return state_.load(); }
    // The port listened on; 0 when not listening.
    [[nodiscard]] int ListeningPort() const { return listeningPort_.load(); }

private:
    using ClientList = std::list<std::unique_ptr<StreamClient>>;

    void StreamThread();
    void RefreshSettings();
    // Password requests due, history answers, live frames, deadlines.
    void Serve(StreamClock::time_point now, StreamClock::time_point& wakeAt);
    // Waits for the sockets (at most until `wakeAt`), then accepts, reads and sends.
    void WaitAndHandle(StreamClock::time_point wakeAt);
    void AcceptNewClients();
    void AddClient(wicket::AcceptedPeer peer);
    void SendPasswordRequest(StreamClient& client);
    void ReadRequest(StreamClient& client);
    void CheckPassword(StreamClient& client, const std::string& answer);
    void RemoveClosing();
    void SetOff(std::string reason);
    void Wake();

    StreamCamera& camera_;
    const StreamTimings timings_;

    // Set by StartStreamServer before the thread starts; the thread's after.
    StreamAcceptor acceptor_;
    StreamSettings settings_;
    // Stream thread only:
    ClientList clients_;  // newest first
    PictureFanout fanout_;
    PasswordGate gate_;

    mutable std::mutex pictureLock_;
    std::string latestPath_;            // guarded by pictureLock_
    std::uint64_t latestSequence_ = 0;  // guarded; grows with every notification
    mutable std::mutex reasonLock_;
    std::string offReason_ = "not started";  // guarded by reasonLock_

    std::atomic<int> clientCount_{0};
    std::atomic<int> state_{0};
    std::atomic<int> listeningPort_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> listening_{false};
    std::atomic<long> threadId_{0};
    std::thread thread_;
    kestrel::UniqueFd wake_;
};

}  // namespace vorlix
