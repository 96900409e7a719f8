// Pictures to viewers, each at its own pace.
//
// Only the newest notified picture is ever started: a viewer still taking an
// older one skips to the newest when it is done, never a queue. Bytes go out
// as each socket takes them (non-blocking), so a slow viewer holds back
// nobody but itself; one that has not taken a whole frame by its deadline is
// given up. "Frequency Transfert" spaces the live frames of each viewer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "libkestrel/framework/SpareFd.h"
#include "serveur/stream/StreamClient.h"

namespace vorlix {

class PictureFanout {
public:
    enum class Progress {
        kBusy,    // bytes left: wait until the socket takes more
        kDone,    // the frame is out (or only its trailer failed): the client is free
        kFailed,  // the connection failed: remove the client
    };

    explicit PictureFanout(std::chrono::milliseconds frameDeadline) : frameDeadline_(frameDeadline) {}

    // The newest picture: `sequence` grows with every notification (a resend
    // of the same path is a new picture too). Read lazily, once per sequence.
    // A client whose pictureSeen is 0 has seen none and gets the newest.
    void Offer(const std::string& path, std::uint64_t sequence);
    [[nodiscard]] std::uint64_t Sequence() const { return sequence_; }

    // Whether `client` (admitted, idle) has a newer picture waiting.
    [[nodiscard]] bool HasNewer(const StreamClient& client) const { return client.pictureSeen < sequence_; }
    // Starts the newest picture for an admitted idle client that is due by
    // `intervalMs` ("Frequency Transfert", 0: no minimum). A client not due
    // yet lowers `nextDue` to when it will be. kFailed: remove the client.
    Progress StartLive(StreamClient& client, int intervalMs, StreamClock::time_point now,
                       StreamClock::time_point& nextDue);
    // Sends the header of `frame` to an idle client in one send, then as much
    // of the rest as the socket takes.
    Progress Begin(StreamClient& client, OutgoingFrame frame);
    // Sends more of the client's frame.
    Progress Continue(StreamClient& client);

    [[nodiscard]] std::chrono::milliseconds FrameDeadline() const { return frameDeadline_; }
    // The descriptor kept back for reading pictures when the process runs short.
    kestrel::SpareFd& Spare() { return spare_; }

private:
    // The newest picture, read on first use; `retry`: read again when that failed.
    std::shared_ptr<const SharedImage> Current(bool retry);

    std::chrono::milliseconds frameDeadline_;
    std::string path_;
    std::uint64_t sequence_ = 0;
    std::uint64_t loadedSequence_ = 0;
    std::shared_ptr<const SharedImage> image_;  // of loadedSequence_; null when it could not be read
    kestrel::SpareFd spare_;
};

// Milliseconds of a steady clock, wrapping at 32 bits like a tick count.
std::uint32_t TickCount();

}  // namespace vorlix
