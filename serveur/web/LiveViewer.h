// One viewer of the browser view's live stream: the newest picture each
// time its socket has room, at most one per picture made, the same one
// again after a while so a stopped camera does not look like a stalled
// viewer. With nothing new to send its connection is parked (suspended)
// until a picture comes, instead of a thread waiting for it. Read on the
// server's polling thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "serveur/web/LiveFrames.h"
#include "serveur/web/ParkedConnections.h"

struct MHD_Connection;

namespace vorlix::web {

class LiveViewer {
public:
    // Counted in `viewers` until destroyed.
    LiveViewer(LiveFrames& frames, ParkedConnections& parking, MHD_Connection* connection, std::atomic<int>& viewers);
    ~LiveViewer();
    LiveViewer(const LiveViewer&) = delete;
    LiveViewer& operator=(const LiveViewer&) = delete;

    // Up to `room` bytes of the stream, at most to the end of one part; 0
    // when the connection was parked until there is more; -1 (the
    // library's end of stream) when the server stops.
    ssize_t Read(char* out, std::size_t room);

private:
    enum class Turn { kPart, kParked, kEnd };
    Turn Next();
    void Begin(std::shared_ptr<const LiveJpeg> picture);
    [[nodiscard]] std::size_t Length() const;
    [[nodiscard]] std::string_view Piece() const;

    LiveFrames& frames_;
    ParkedConnections& parking_;
    MHD_Connection* connection_;
    std::atomic<int>& viewers_;
    LiveFrames::Watch watch_;
    std::shared_ptr<const LiveJpeg> picture_;
    std::string head_;
    std::size_t offset_ = 0;
    bool waiting_ = false;  // since waitingSince_, for a newer picture
    std::chrono::steady_clock::time_point waitingSince_;
};

}  // namespace vorlix::web
