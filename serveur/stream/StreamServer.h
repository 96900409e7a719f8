// The stream server of a camera: a listening socket, one worker thread and
// the connected viewers. The camera calls NotifyNewImage for every picture
// meant for viewers; headers go out at once on the caller's thread, picture
// bytes only from the stream thread, never under the client-list lock.
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
#include <vector>

#include "serveur/core/Hooks.h"
#include "serveur/stream/StreamCamera.h"
#include "serveur/stream/StreamClient.h"

namespace vorlix {

// The texts the server shows the user (translated by the caller) when
// StartStreamServer returns 0.
inline constexpr const char* kServerInstallError = "error during server installation";
inline constexpr const char* kServerWarningCaption = "Server warning";

class StreamServer final : public ImageNotifier {
public:
    // A viewer whose socket takes no byte for this long is closed.
    static constexpr std::chrono::milliseconds kSendTimeout{5000};

    explicit StreamServer(StreamCamera& camera);
    ~StreamServer() override;
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    // Starts the thread and listens on the camera's port: the listening socket
    // (positive), 0 when listening failed, -1 when the thread cannot be
    // created. The server counts as running whatever the result; a second
    // start while running returns the current socket (0 when none).
    int StartStreamServer();
    // Ends the thread (joined), closes every client and the listening socket.
    // Does nothing when not running.
    void StopStreamServer();
    // Any thread; null: resend the last picture to clients that are due.
    void NotifyNewImage(const char* path) override;
    // Client records; 0 when not running.
    [[nodiscard]] int CountStreamClients() const;
    [[nodiscard]] bool Running() const { return running_.load(); }
    // 0 idle, 1 a flush is pending (a notification now sends nothing), 2 stopping.
    [[nodiscard]] int StreamState() const { return state_.load(); }
    // The port actually listened on (the configured one, or the system's
    // choice for 0); 0 when not listening.
    [[nodiscard]] int ListeningPort() const;

private:
    using ClientPtr = std::shared_ptr<StreamClient>;
    struct Pending;
    struct Events;

    void StreamThread();
    // Accepts every waiting connection; true when one was admitted without a password.
    bool AcceptNewClient(Events& events);
    void AddClient(int fd, std::int32_t challenge, bool withPassword);
    void SendPasswordRequest(StreamClient& client);
    void StartFrames(const std::shared_ptr<const SharedImage>& image, int interval);
    void FlushFrames();
    void SendPending(std::vector<Pending>& work);
    bool PollRequests(const std::vector<ClientPtr>& clients);
    void HandleRequest(const ClientPtr& client, std::string_view received);
    void CheckPassword(const ClientPtr& client, const std::string& answer);
    void SendHistory(const ClientPtr& client, const std::string& argument);
    void IdleWait(const std::vector<ClientPtr>& clients);
    std::vector<ClientPtr> ReadableClients();
    void RemoveClientLocked(const ClientPtr& client);
    void RemoveClient(const ClientPtr& client);
    void Wake();
    void Emit(Events& events);

    StreamCamera& camera_;
    mutable std::mutex lock_;         // the client list and the client records
    std::list<ClientPtr> clients_;    // newest first
    std::string lastImagePath_;       // guarded by lock_
    std::int32_t lastChallenge_ = 0;  // guarded by lock_
    std::atomic<int> listenFd_{-1};
    std::atomic<int> state_{0};  // 0 idle, 1 flush requested, 2 stop requested
    std::atomic<bool> running_{false};
    std::atomic<bool> threadEnded_{true};
    std::atomic<long> threadId_{0};
    std::thread thread_;
    int wakeFd_ = -1;
};

}  // namespace vorlix
