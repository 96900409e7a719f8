#include "serveur/web/LiveViewer.h"

#include <microhttpd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "serveur/web/WebPage.h"

namespace vorlix::web {

namespace {

constexpr std::string_view kTail = "\r\n";
constexpr std::chrono::milliseconds kRepeatAfter{2000};

}  // namespace

LiveViewer::LiveViewer(LiveFrames& frames, std::atomic<int>& viewers, const std::atomic<bool>& stopping)
    : frames_(frames), viewers_(viewers), stopping_(stopping), watch_(frames)
{
}

LiveViewer::~LiveViewer()
{
    viewers_.fetch_sub(1);
}

ssize_t LiveViewer::Read(char* out, std::size_t room)
{
    if (offset_ == Length() && !Next()) {
        return MHD_CONTENT_READER_END_OF_STREAM;
    }
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

// Waits for a newer picture (or the same again after a while).
bool LiveViewer::Next()
{
    const auto since = std::chrono::steady_clock::now();
    while (!stopping_.load()) {
        const std::uint64_t seen = picture_ ? picture_->sequence : 0;
        if (auto newer = frames_.WaitNewer(seen, std::chrono::milliseconds(250))) {
            picture_ = std::move(newer);
            break;
        }
        if (picture_ && std::chrono::steady_clock::now() - since >= kRepeatAfter) {
            break;
        }
    }
    if (stopping_.load() || !picture_) {
        return false;
    }
    head_ = MjpegPartHead(picture_->bytes.size());
    offset_ = 0;
    return true;
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
