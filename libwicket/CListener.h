// A listening TCP socket and the accepting of its connections, shared by
// every server of the system (stream server, trace server).
//
// Running out of descriptors is the one accept failure that would otherwise
// repeat forever: the pending connection stays queued, the socket stays
// readable and every poll returns at once. The listener keeps one spare
// descriptor; when accept fails for want of descriptors it spends the spare
// to take the waiting connection and close it at once (the peer sees a
// reset instead of hanging), then tells the caller to pause accepting for a
// while (100 ms, doubling up to 2 s while the shortage lasts).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

#include "libkestrel/framework/UniqueFd.h"

namespace wicket {

struct AcceptedPeer {
    kestrel::UniqueFd fd;  // non-blocking, close-on-exec
    std::string address;   // "127.0.0.1", "::1"
    int port = 0;
};

class CListener {
public:
    enum class Step { kNone, kSocket, kBind, kListen };
    enum class AcceptResult {
        kAccepted,          // `peer` holds the new connection
        kNoneWaiting,       // nothing to accept now
        kOutOfDescriptors,  // a connection was refused for want of descriptors; pause
        kFailed,            // any other failure (errno set); the listener stays usable
    };

    CListener() = default;
    CListener(CListener&&) noexcept = default;
    CListener& operator=(CListener&&) noexcept = default;

    // Listens on `port` (0: the system picks one) of `bindAddress` (empty:
    // every IPv4 address; an IPv6 text such as "::" or "::1" gives an IPv6
    // socket). Non-blocking, close-on-exec, address reuse. False with errno
    // set and FailedStep() telling which call failed; a port outside 0..65535
    // fails at kBind with EINVAL.
    bool Listen(int port, const std::string& bindAddress = {}, int backlog = 128);
    void Close();

    [[nodiscard]] bool Listening() const { return fd_.Valid(); }
    [[nodiscard]] int Fd() const { return fd_.Get(); }
    [[nodiscard]] int Port() const;  // the bound port, 0 when not listening
    [[nodiscard]] Step FailedStep() const { return failedStep_; }

    AcceptResult Accept(AcceptedPeer& peer);

    // Whether the caller should poll the socket and accept now; false while a
    // descriptor shortage pause runs.
    [[nodiscard]] bool AcceptAllowed(std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) const
    {
        return now >= pausedUntil_;
    }
    [[nodiscard]] std::chrono::steady_clock::time_point PausedUntil() const { return pausedUntil_; }
    // Shortages met since Listen.
    [[nodiscard]] long Shortages() const { return shortages_; }

private:
    void ReserveSpare();

    kestrel::UniqueFd fd_;
    kestrel::UniqueFd spare_;
    Step failedStep_ = Step::kNone;
    std::chrono::steady_clock::time_point pausedUntil_{};
    std::chrono::milliseconds pause_{0};
    long shortages_ = 0;
};

// "a.b.c.d" or an IPv6 text, and the port, of a socket address.
std::string AddressText(const sockaddr_storage& address, int* port = nullptr);

}  // namespace wicket
