#include "serveur/web/LiveViewer.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

#include "serveur/web/WebPage.h"

namespace vorlix::web {

namespace {

constexpr std::string_view kTail = "\r\n";
constexpr std::chrono::milliseconds kRepeatAfter{2000};

}  // namespace

LiveViewer::LiveViewer(LiveFrames& frames, ParkedConnections& parking, MHD_Connection* connection,
                       std::atomic<int>& viewers)
    : frames_(frames), parking_(parking), connection_(connection), viewers_(viewers), watch_(frames)
{
}

LiveViewer::~LiveViewer()
{
    viewers_.fetch_sub(1);
}

ssize_t LiveViewer::Read(char* out, std::size_t room)
{
    if (offset_ == Length()) {
        switch (Next()) {
            case Turn::kPart:
                break;
            case Turn::kParked:
                return 0;
            case Turn::kEnd:
                return MHD_CONTENT_READER_END_OF_STREAM;
        }
    }
    // One call carries a whole part when the library's block holds it.
    std::size_t done = 0;
    while (done < room && offset_ < Length()) {
        const std::string_view piece = Piece();
        const std::size_t n = std::min(room - done, piece.size());
        std::memcpy(out + done, piece.data(), n);
        done += n;
        offset_ += n;
    }
    return static_cast<ssize_t>(done);
}

// A newer picture, the same again after a while, or the connection parked
// until one of them is due.
LiveViewer::Turn LiveViewer::Next()
{
    // Parking answers "ready" only when a picture or the moment has come
    // since the last look, so the second round at the latest decides.
    for (int round = 0; round < 3; ++round) {
        const std::uint64_t seen = picture_ ? picture_->sequence : 0;
        if (std::shared_ptr<const LiveJpeg> newest = frames_.Newest(); newest && newest->sequence > seen) {
            Begin(std::move(newest));
            return Turn::kPart;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!waiting_) {
            waiting_ = true;
            waitingSince_ = now;
        }
        if (now - waitingSince_ >= kRepeatAfter) {
            if (picture_) {
                Begin(picture_);
                return Turn::kPart;
            }
            waitingSince_ = now;  // no picture yet: wait on
        }
        switch (parking_.Park(connection_, seen, waitingSince_ + kRepeatAfter)) {
            case ParkedConnections::Outcome::kParked:
                return Turn::kParked;
            case ParkedConnections::Outcome::kClosed:
                return Turn::kEnd;
            case ParkedConnections::Outcome::kReady:
                break;
        }
    }
    return Turn::kEnd;
}

void LiveViewer::Begin(std::shared_ptr<const LiveJpeg> picture)
{
    picture_ = std::move(picture);
    head_ = MjpegPartHead(picture_->bytes.size());
    offset_ = 0;
    waiting_ = false;
}

std::size_t LiveViewer::Length() const
{
    return picture_ ? head_.size() + picture_->bytes.size() + kTail.size() : 0;
}

// The rest of the piece that offset_ is in.
std::string_view LiveViewer::Piece() const
{
    const std::size_t body = picture_->bytes.size();
    if (offset_ < head_.size()) {
        return std::string_view(head_).substr(offset_);
    }
    if (offset_ < head_.size() + body) {
        const std::size_t at = offset_ - head_.size();
        return {reinterpret_cast<const char*>(picture_->bytes.data()) + at, body - at};
    }
    return kTail.substr(offset_ - head_.size() - body);
}

}  // namespace vorlix::web
