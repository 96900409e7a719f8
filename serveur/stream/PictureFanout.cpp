#include "serveur/stream/PictureFanout.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "libkestrel/trace/TraceLevels.h"
#include "libwicket/SocketMode.h"
#include "serveur/stream/StreamWire.h"

namespace vorlix {

namespace {

constexpr int kSendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;

}  // namespace

std::uint32_t TickCount()
{
    const auto now = StreamClock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void PictureFanout::Offer(const std::string& path, std::uint64_t sequence)
{
    if (sequence != sequence_) {
        path_ = path;
        sequence_ = sequence;
    }
}

std::shared_ptr<const SharedImage> PictureFanout::Current(bool retry)
{
    if (loadedSequence_ != sequence_ || (retry && image_ == nullptr)) {
        loadedSequence_ = sequence_;
        image_.reset();  // the older picture goes with the last client sending it
        image_ = SharedImage::Load(path_, &spare_);
        if (image_ == nullptr) {
            TRACE_WARN("Unable to access jpg file=(%s)(%x)", path_.c_str(), static_cast<unsigned>(errno));
        }
    }
    return image_;
}

PictureFanout::Progress PictureFanout::StartLive(StreamClient& client, int intervalMs, StreamClock::time_point now,
                                                 StreamClock::time_point& nextDue)
{
    if (!HasNewer(client)) {
        return Progress::kDone;
    }
    const std::uint32_t tick = TickCount();
    const std::uint32_t since = tick - client.lastFrameTick;
    if (intervalMs > 0 && since < static_cast<std::uint32_t>(intervalMs)) {
        nextDue = std::min(nextDue, now + std::chrono::milliseconds(static_cast<std::uint32_t>(intervalMs) - since));
        return Progress::kDone;
    }
    // A viewer that asks for the last picture (new, or just admitted) gets
    // another try at a picture that could not be read for the others.
    const bool asking = client.pictureSeen == 0;
    client.pictureSeen = sequence_;
    const std::shared_ptr<const SharedImage> image = Current(asking);
    if (image == nullptr || image->Size() <= 0) {
        return Progress::kDone;  // nothing to send for this picture
    }
    client.lastFrameTick = tick;
    OutgoingFrame frame;
    frame.header = LiveFrameHeader(image->Size());
    frame.image = image;
    frame.deadline = now + frameDeadline_;
    return Begin(client, std::move(frame));
}

namespace {

// One send of what is left of `f`: header, picture bytes, trailer. The
// counts of each part sent are advanced; -1 with errno on failure.
ssize_t SendRest(int fd, OutgoingFrame& f)
{
    const auto size = static_cast<std::size_t>(f.image->Size());
    std::array<iovec, 3> parts{};
    std::size_t count = 0;
    if (f.headerSent < f.header.size()) {
        parts[count++] = iovec{f.header.data() + f.headerSent, f.header.size() - f.headerSent};
    }
    if (f.offset < size) {
        parts[count++] = iovec{const_cast<char*>(f.image->Data() + f.offset), size - f.offset};
    }
    parts[count++] = iovec{const_cast<char*>(kFrameTrailer.data() + f.trailerSent), 2 - f.trailerSent};
    msghdr message{};
    message.msg_iov = parts.data();
    message.msg_iovlen = count;
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(fd, &message, kSendFlags);
    } while (sent < 0 && errno == EINTR);
    if (sent > 0) {
        auto left = static_cast<std::size_t>(sent);
        const std::size_t header = std::min(left, f.header.size() - f.headerSent);
        f.headerSent += header;
        left -= header;
        const std::size_t body = std::min(left, size - f.offset);
        f.offset += body;
        f.trailerSent += left - body;
    }
    return sent;
}

}  // namespace

PictureFanout::Progress PictureFanout::Begin(StreamClient& client, OutgoingFrame frame)
{
    const int fd = client.Fd();
    const auto length = static_cast<int>(frame.header.size());
    // The header leads the frame's first send, so it reaches the viewer
    // whole and in front of any picture byte; header and picture leave in
    // the same segments.
    const ssize_t sent = SendRest(fd, frame);
    if (sent < 0 && !wicket::IsWouldBlock(errno)) {
        client.lastFrameTick = 0;
        if (frame.history) {
            TRACE_WARN("Error on (%d), Send history header jpg (%d au lieu de %d)", fd, static_cast<int>(sent), length);
        } else {
            TRACE_WARN("Error on (%d), Send header jpg (%d au lieu de %d)", fd, static_cast<int>(sent), length);
        }
        TRACE_WARN_DETAIL();
        return Progress::kFailed;
    }
    const int header = sent < 0 ? static_cast<int>(sent) : static_cast<int>(frame.headerSent);
    if (frame.history) {
        TRACE_LEVEL(kestrel::kLevelUser3, "(History) send (%d bytes) on (%d)", header, fd);
    } else {
        TRACE_LEVEL(kestrel::kLevelUser3, "(add_write) send (%d bytes) on (%d)", header, fd);
    }
    if (sent > header) {
        TRACE_LEVEL(kestrel::kLevelUser3, "(flush) a send (%d bytes) on (%d)", static_cast<int>(sent) - header, fd);
    }
    client.frame = std::move(frame);
    return Continue(client);
}

PictureFanout::Progress PictureFanout::Continue(StreamClient& client)
{
    if (!client.frame) {
        return Progress::kDone;
    }
    OutgoingFrame& f = *client.frame;
    const int fd = client.Fd();
    const auto size = static_cast<std::size_t>(f.image->Size());
    for (;;) {
        if (f.trailerSent == 2) {
            TRACE_LEVEL(kestrel::kLevelUser3, "Send (%d bytes,nret=%d) on (%d)", static_cast<int>(size), 2, fd);
            client.frame.reset();
            return Progress::kDone;
        }
        const ssize_t sent = SendRest(fd, f);
        const int error = errno;
        TRACE_LEVEL(kestrel::kLevelUser3, "(flush) a send (%d bytes) on (%d)", static_cast<int>(sent), fd);
        if (sent > 0) {
            continue;
        }
        if (sent == 0 || wicket::IsWouldBlock(error)) {
            return Progress::kBusy;
        }
        errno = error;
        if (f.offset < size || f.headerSent < f.header.size()) {
            TRACE_WARN("Error on (%d), Send jpg (%d au lieu de %d)", fd, static_cast<int>(sent),
                       static_cast<int>(size));
            TRACE_WARN_DETAIL();
            client.frame.reset();
            return Progress::kFailed;
        }
        TRACE_WARN("Error on (%d), Send return jpg (%d au lieu de 2)", fd, static_cast<int>(sent));
        TRACE_WARN_DETAIL();  // kept: the next frame tells whether it is gone
        client.frame.reset();
        return Progress::kDone;
    }
}

}  // namespace vorlix
