// The camera object's images: their allocation for a picture size, the
// reference and previous images, the two zone measures and the thresholds.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/DetectionScale.h"
#include "serveur/core/FrameToRgb.h"
#include "serveur/core/SettingsSections.h"
#include "serveur/core/WebCam.h"
#include "serveur/core/ZoneMath.h"

namespace vorlix {

namespace prof = kestrel::profile;

namespace {
std::size_t ImageBytes(int width, int height)
{
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4U;
}
}  // namespace

MeasuredPicture WebCam::Measured() const
{
    return MeasuredPicture{current_, Width(), Height(), Format(), Noise()};
}

int WebCam::FastPass(const MeasuredPicture& picture, const ZoneCorners& zone, int step)
{
    const int fmt = Format();
    if (BytesPerPixel(fmt) == 0) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "image type unknown, alg_diff_fast (%lx)\n",
                    static_cast<unsigned long>(fmt));
        return 0;
    }
    return MeasureFast(picture, previous_, zone, step);
}

int WebCam::alg_diff_fast(int slot)
{
    if (slot < 0 || slot >= kZoneSlots) {
        return 0;
    }
    return FastPass(Measured(), zones_.Zone(slot), ZoneStep(slot));
}

int WebCam::ReferencePass(const MeasuredPicture& picture, int slot, const ZoneCorners& zone, bool writeMask)
{
    const int fmt = Format();
    if (BytesPerPixel(fmt) == 0) {
        TRACE_LEVEL(kestrel::kLevelUnclassified, "image type unknown, alg_diff_standard (%lx)",
                    static_cast<unsigned long>(fmt));
        return 0;
    }
    const std::optional<StandardMeasure> m = MeasureStandard(
        picture, reference_, writeMask ? std::span<std::uint8_t>(mask_) : std::span<std::uint8_t>(), zone);
    if (!m) {
        return 0;
    }
    tallies_[static_cast<std::size_t>(slot)] = *m;
    auto& st = state_[static_cast<std::size_t>(slot)];
    st.centreX.store(m->centreX);
    st.centreY.store(m->centreY);
    st.lastStandard.store(m->measure);
    return m->measure;
}

int WebCam::alg_diff_standard(int slot)
{
    if (slot < 0 || slot >= kZoneSlots) {
        return 0;
    }
    return ReferencePass(Measured(), slot, zones_.Zone(slot), MaskWriting());
}

void WebCam::CopyFrameInto(std::vector<std::uint8_t>& image)
{
    const std::size_t n = std::min({current_.size(), image.size(), static_cast<std::size_t>(FrameSize())});
    if (n > 0) {
        std::memcpy(image.data(), current_.data(), n);
    }
}

FramePicture WebCam::Picture()
{
    FramePicture picture;
    picture.width = Width();
    picture.height = Height();
    picture.annotated = annotated_;
    const int fmt = Format();
    const int topDown = TopDown();
    if (full_ != nullptr) {
        // Measured at a fraction: the picture is the whole frame, decoded now.
        const std::optional<Frame> whole = full_->FullFrame();
        if (whole && whole->format == kFourccI420 &&
            whole->data.size() >= FrameBytes(kFourccI420, whole->width, whole->height)) {
            const std::size_t bytes = ImageBytes(whole->width, whole->height);
            if (fullAnnotated_.size() < bytes) {
                fullAnnotated_.resize(bytes);
            }
            picture.width = whole->width;
            picture.height = whole->height;
            picture.i420 = whole->data;
            picture.annotated = fullAnnotated_;
            return picture;
        }
        TRACE_WARN("No whole picture of the frame (%d x %d measured): the measured frame is written", picture.width,
                   picture.height);
    }
    if (IsPlainRgb(fmt, topDown)) {
        picture.rgb = current_;
    } else if (fmt == kFourccI420 && current_.size() >= FrameBytes(fmt, picture.width, picture.height)) {
        // The picture is compressed from the planes: no conversion to RGB and back.
        picture.i420 = current_;
    } else if (ConvertFrameToRgb(current_, picture.width, picture.height, fmt, topDown, rgb_)) {
        picture.rgb = rgb_;
    } else {
        TRACE_WARN("No picture of format 0x%X (%d x %d)", static_cast<unsigned>(fmt), picture.width, picture.height);
    }
    return picture;
}

void WebCam::CreateReferenceImage()
{
    CopyFrameInto(reference_);
    // The previous image starts from the first reference frame.
    if (!previousValid_) {
        CopyFrameInto(previous_);
        previousValid_ = true;
    }
    std::fill(mask_.begin(), mask_.end(), std::uint8_t{0});
    for (auto& st : state_) {
        st.lastStandard.store(0);
    }
    if (const DetectionRoad* road = road_.load()) {
        for (DetectionConsumer* consumer : road->Consumers()) {
            consumer->OnNewReference();
        }
    }
    TRACE_LEVEL(kestrel::kLevelUser2, "creation reference image");
}

void WebCam::ComputeZoneThresholds()
{
    if (!CaptureRunning()) {
        return;
    }
    ThresholdsForFrameSize();
}

void WebCam::ThresholdsForFrameSize()
{
    // A size still unknown (a source that tells it with its first frame) has
    // no thresholds yet: every zone would lie beyond a 0 x 0 picture and the
    // table would be emptied for good. The first frame computes them.
    if (Width() <= 0 || Height() <= 0) {
        return;
    }
    for (int i = 0; i < kMaxZones; ++i) {
        state_[static_cast<std::size_t>(i)].shareOfZones.store(0);
        state_[static_cast<std::size_t>(i)].shareOfPicture.store(0);
    }
    const ZoneSnapshot snap = zones_.Snapshot();
    const ZoneThresholds t = ComputeThresholds(snap, Width(), Height(), ScaledMaxDiff(MaxDiff(), DetectionScale()));
    if (t.count != zones_.Count()) {
        zones_.SetCount(t.count);
    }
    TRACE_TRACE("Tout = %d chgt", MaxDiff());
    for (int k = 0; k < t.count; ++k) {
        const vorlix::ZoneThreshold& z = t.zones[static_cast<std::size_t>(k)];
        auto& st = state_[static_cast<std::size_t>(k)];
        st.shareOfZones.store(z.shareOfZones);
        st.shareOfPicture.store(z.shareOfPicture);
        st.threshold.store(z.threshold);
        st.step.store(z.step);
        const ZoneCorners& corners = snap.slots[static_cast<std::size_t>(k)];
        TRACE_TRACE("Zone %d =%d %%oo/zones , %d %%oo/tout, %d chgt, %d iteration", k + 1, z.shareOfZones,
                    z.shareOfPicture, z.threshold, z.step);
        TRACE_TRACE("Zone %d = %d,%d     %d,%d", k + 1, corners.x0, corners.y0, corners.x1, corners.y1);
    }
    if (const DetectionRoad* road = road_.load(); road != nullptr && road->Display() != nullptr) {
        road->Display()->SetActivityRange(0, t.largest);
    }
}

void WebCam::WriteZoneCorners(int count)
{
    if (paths_.settingsFile.empty()) {
        return;
    }
    const std::string& f = paths_.settingsFile;
    const ZoneSnapshot snap = zones_.Snapshot();
    for (int i = 0; i < count; ++i) {
        const auto& z = snap.slots[static_cast<std::size_t>(i)];
        const std::string n = std::to_string(i);
        prof::WriteInt(f, section::kMain, "x0_" + n, z.x0);
        prof::WriteInt(f, section::kMain, "y0_" + n, z.y0);
        prof::WriteInt(f, section::kMain, "x1_" + n, z.x1);
        prof::WriteInt(f, section::kMain, "y1_" + n, z.y1);
    }
    prof::WriteInt(f, section::kMain, "width", Width());
    prof::WriteInt(f, section::kMain, "height", Height());
}

void WebCam::StoreFrameSize()
{
    // Every image copy copies one frame: the bytes the delivered format takes.
    const int fmt = Format();
    const std::size_t pixels = static_cast<std::size_t>(Width()) * static_cast<std::size_t>(Height());
    const std::size_t bytes = BytesPerPixel(fmt) == 0 ? pixels : FrameBytes(fmt, Width(), Height());
    frameSize_.store(static_cast<int>(std::min(bytes, ImageBytes(Width(), Height()))));
}

bool WebCam::AllocateImages(int width, int height)
{
    const std::size_t bytes = ImageBytes(width, height);
    const std::size_t limit = imageMemoryLimit_.load();
    if (limit != 0 && bytes * 4 > limit) {
        return false;
    }
    try {
        std::vector<std::uint8_t> ref(bytes), prev(bytes), ann(bytes), mask(bytes);
        reference_.swap(ref);
        previous_.swap(prev);
        annotated_.swap(ann);
        mask_.swap(mask);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool WebCam::ResizeBuffers(int width, int height)
{
    const bool sane = width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide;
    if (!sane || !AllocateImages(width, height)) {
        // Without images no frame can be measured, copied or shown: stop
        // until a size whose images can be had is delivered.
        processingStopped_.store(true);
        refusedWidth_ = width;
        refusedHeight_ = height;
        reference_ = {};
        previous_ = {};
        annotated_ = {};
        mask_ = {};
        ErrorSysSet(static_cast<unsigned>(ENOMEM));
        TRACE_ERROR("ResizeBuffers: no images for %d x %d, frames are no longer processed", width, height);
        TRACE_ERROR_DETAIL();
        return false;
    }
    processingStopped_.store(false);
    refusedWidth_ = refusedHeight_ = -1;
    width_.store(width);
    height_.store(height);
    StoreFrameSize();
    topDown_.store(kTopDown);
    clientRefresh_.store(true);
    lastDetection_.store(0);
    previousValid_ = false;

    const int savedW = savedWidth_.load(), savedH = savedHeight_.load();
    ZoneSnapshot snap = zones_.Snapshot();
    const bool changed = RescaleZones(snap, savedW, savedH, width, height);
    zones_.SetAll(snap);
    const bool hadSaved = savedW != 0 && savedH != 0;
    savedWidth_.store(width);
    savedHeight_.store(height);
    {
        std::lock_guard lock(settingsMutex_);
        settings_.savedWidth = width;
        settings_.savedHeight = height;
        published_ = std::make_shared<const CameraSettings>(settings_);
    }
    if (!hadSaved || changed) {
        WriteZoneCorners(snap.count);
    }
    return true;
}

}  // namespace vorlix
