// One viewer of the browser view's live stream: the newest picture each
// time its socket has room, at most one per picture made, the same one
// again after a while so a stopped camera does not look like a stalled
// viewer. Read on the viewer's connection thread only.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "serveur/web/LiveFrames.h"

namespace vorlix::web {

class LiveViewer {
public:
    // Counted in `viewers` until destroyed; ends when `stopping` is set.
    LiveViewer(LiveFrames& frames, std::atomic<int>& viewers, const std::atomic<bool>& stopping);
    ~LiveViewer();
    LiveViewer(const LiveViewer&) = delete;
    LiveViewer& operator=(const LiveViewer&) = delete;

    // Up to `room` bytes of the stream; -1 (the library's end of stream)
    // when the server stops.
    ssize_t Read(char* out, std::size_t room);

private:
    bool Next();
    [[nodiscard]] std::size_t Length() const;
    [[nodiscard]] std::string_view Piece() const;

    LiveFrames& frames_;
    std::atomic<int>& viewers_;
    const std::atomic<bool>& stopping_;
    LiveFrames::Watch watch_;
    std::shared_ptr<const LiveJpeg> picture_;
    std::string head_;
    std::size_t offset_ = 0;
};

}  // namespace vorlix::web
