#include "serveur/actions/StampedPicture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "serveur/actions/Font6x6.h"
#include "serveur/actions/JpegWriter.h"
#include "serveur/actions/StampImage.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix {

namespace {

class CopyAndStamp final : public RowPreparer {
public:
    CopyAndStamp(std::span<const std::uint8_t> frame, std::span<std::uint8_t> annotated, int width, int height,
                 const StampRequest* stamp)
        : frame_(frame), annotated_(annotated), width_(width), height_(height), stamp_(stamp)
    {
        // the stamp touches its six rows and the outline rows above and below
        stampTop_ = height - 20 - 1;
        stampEnd_ = height - 20 + kGlyphSize + 1;
    }

    void PrepareRows(int first, int count) override
    {
        int end = first + count;
        const bool reachesStamp = stamp_ != nullptr && !stamped_ && end > stampTop_;
        if (reachesStamp) {
            end = std::max(end, std::min(stampEnd_, height_));
        }
        if (end > copied_) {
            const std::size_t stride = static_cast<std::size_t>(width_) * 3;
            const std::size_t from = static_cast<std::size_t>(copied_) * stride;
            const std::size_t bytes = static_cast<std::size_t>(end - copied_) * stride;
            std::memcpy(annotated_.data() + from, frame_.data() + from, bytes);
            copied_ = end;
        }
        if (reachesStamp) {
            StampImage(annotated_, width_, height_, stamp_->name, stamp_->number, stamp_->local);
            stamped_ = true;
        }
    }

private:
    std::span<const std::uint8_t> frame_;
    std::span<std::uint8_t> annotated_;
    int width_;
    int height_;
    const StampRequest* stamp_;
    int stampTop_ = 0;
    int stampEnd_ = 0;
    int copied_ = 0;
    bool stamped_ = false;
};

}  // namespace

bool WriteI420Picture(std::span<const std::uint8_t> frame, std::span<std::uint8_t> annotated, int width, int height,
                      const StampRequest* stamp, const std::string& path, int quality, std::string_view comment,
                      int* error)
{
    const std::size_t size = FrameBytes(kFourccI420, width, height);
    if (size == 0 || frame.size() < size || annotated.size() < size + kI420ReadPast) {
        if (error != nullptr) {
            *error = EINVAL;
        }
        return false;
    }
    std::memcpy(annotated.data(), frame.data(), size);
    if (stamp != nullptr) {
        StampImageI420(annotated, width, height, stamp->name, stamp->number, stamp->local);
    }
    return WriteJpegI420(annotated, path, quality, width, height, comment, error);
}

bool WriteFramePicture(std::span<const std::uint8_t> frame, std::span<std::uint8_t> annotated, int width, int height,
                       const StampRequest* stamp, const std::string& path, int quality, std::string_view comment,
                       int* error)
{
    const std::size_t size =
        static_cast<std::size_t>(width > 0 ? width : 0) * static_cast<std::size_t>(height > 0 ? height : 0) * 3;
    if (size == 0 || frame.size() < size || annotated.size() < size) {
        if (error != nullptr) {
            *error = EINVAL;
        }
        return false;
    }
    CopyAndStamp prepare(frame, annotated, width, height, stamp);
    const bool written = WriteJpeg(annotated, path, quality, width, height, comment, &prepare, error);
    // a failed write still leaves the annotated image complete
    prepare.PrepareRows(0, height);
    return written;
}

}  // namespace vorlix
