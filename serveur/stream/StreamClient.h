// One accepted viewer connection, owned by the stream thread: its socket,
// where it stands in the password exchange, and the frame it is being sent.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "libkestrel/framework/UniqueFd.h"
#include "serveur/stream/SharedImage.h"

namespace vorlix {

using StreamClock = std::chrono::steady_clock;

// A frame on its way to one viewer: header, picture bytes and trailer, sent
// as the socket takes them. The whole frame must be taken by `deadline`.
struct OutgoingFrame {
    std::string header;
    std::shared_ptr<const SharedImage> image;
    std::size_t headerSent = 0;
    std::size_t offset = 0;  // picture bytes sent
    std::size_t trailerSent = 0;
    bool history = false;
    StreamClock::time_point deadline;
};

struct StreamClient {
    StreamClient(kestrel::UniqueFd fd, std::string peerAddress, int peerPort)
        : socket(std::move(fd)), address(std::move(peerAddress)), port(peerPort)
    {
    }

    [[nodiscard]] int Fd() const { return socket.Get(); }
    [[nodiscard]] bool Admitted() const { return passwordState == 0; }

    kestrel::UniqueFd socket;
    std::string address;  // the peer, for traces ("127.0.0.1")
    int port = 0;

    int passwordState = 0;  // 0 admitted; n >= 1: waiting, n - 1 wrong answers so far
    std::int32_t challenge = 0;
    // Set while the next password request waits for a wrong answer's delay.
    std::optional<StreamClock::time_point> challengeAt;

    std::optional<OutgoingFrame> frame;
    std::uint32_t lastFrameTick = 0;            // ms, when the last live frame to this client began
    std::uint64_t pictureSeen = 0;              // newest notification served or skipped; 0: none, send the last
    std::optional<std::string> historyRequest;  // waits for the frame in flight

    bool closing = false;  // removed at the end of the pass
};

}  // namespace vorlix
