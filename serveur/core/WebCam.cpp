// The motion detection engine of the camera object.
#include "serveur/core/WebCam.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "libkestrel/error/QXError.h"
#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/DiffKernels.h"

namespace vorlix {

namespace prof = kestrel::profile;

int BytesPerPixel(int format)
{
    switch (format) {
        case kFormatRgb16:
            return 2;
        case kFormatRgb24:
            return 3;
        case kFormatRgb32:
            return 4;
        case kFourccI420:
            return 1;
        case kFourccYuy2:
            return 2;
        default:
            return 0;
    }
}

WebCam::WebCam(TimeSource clock)
{
    SetTimeSource(std::move(clock));
}

void WebCam::SetTimeSource(TimeSource clock)
{
    clock_ = clock ? std::move(clock) : TimeSource([] { return std::time(nullptr); });
}

std::time_t WebCam::Now() const
{
    return clock_();
}

namespace {
// A zone clipped to the picture, so a zone that is being redrawn or was set
// for another size can never reach outside the images.
ZoneCorners Clipped(ZoneCorners z, int width, int height)
{
    z.x0 = std::clamp(z.x0, 0, width);
    z.x1 = std::clamp(z.x1, z.x0, width);
    z.y0 = std::clamp(z.y0, 0, height);
    z.y1 = std::clamp(z.y1, z.y0, height);
    return z;
}

std::size_t ImageBytes(int width, int height)
{
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4u;
}
}  // namespace

void WebCam::BuildSampleXTable(int bpp)
{
    const int width = Width();
    if (sampleXBpp_ == bpp && sampleX_.size() == static_cast<std::size_t>(width * bpp))
        return;
    sampleX_.resize(static_cast<std::size_t>(width * bpp));
    for (int i = 0; i < width * bpp; ++i)
        sampleX_[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i / bpp);
    sampleXBpp_ = bpp;
}

int WebCam::MeasureFast(const ZoneCorners& zone, int step)
{
    const int fmt = Format();
    const int bpp = BytesPerPixel(fmt);
    if (bpp == 0) {
        TRACE_LEVEL(0, "image type unknown, alg_diff_fast (%lx)\n", static_cast<unsigned long>(fmt));
        return 0;
    }
    const int width = Width(), height = Height();
    const std::size_t needed = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * bpp;
    if (current_.size() < needed || previous_.size() < needed)
        return 0;
    const ZoneCorners z = Clipped(zone, width, height);
    step = std::max(step, 1);
    const int noise = Noise();
    std::uint64_t count = 0;
    for (int y = z.y0; y < z.y1; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * bpp;
        if (step == 1) {
            const std::size_t o = row + static_cast<std::size_t>(z.x0) * bpp;
            count += DiffRowCount(previous_.data() + o, current_.data() + o, (z.x1 - z.x0) * bpp, noise);
        } else {
            count += DiffRowStrided(previous_.data() + row, current_.data() + row, z.x0, z.x1, step, bpp, noise);
        }
    }
    return static_cast<int>(count * static_cast<std::uint64_t>((step * 3) / std::min(bpp, 3)));
}

int WebCam::alg_diff_fast(int slot)
{
    if (slot < 0 || slot >= kZoneSlots)
        return 0;
    return MeasureFast(zones_.Zone(slot), ZoneStep(slot));
}

int WebCam::MeasureStandard(int slot, const ZoneCorners& zone)
{
    const int fmt = Format();
    const int bpp = BytesPerPixel(fmt);
    if (bpp == 0) {
        TRACE_LEVEL(0, "image type unknown, alg_diff_standard (%lx)", static_cast<unsigned long>(fmt));
        return 0;
    }
    const int width = Width(), height = Height();
    const std::size_t needed = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * bpp;
    if (current_.size() < needed || reference_.size() < needed)
        return 0;
    BuildSampleXTable(bpp);
    const ZoneCorners z = Clipped(zone, width, height);
    const bool writeMask = MaskWriting();
    const int noise = Noise();
    std::uint64_t count = 0, sumX = 0, sumY = 0;
    const int n = (z.x1 - z.x0) * bpp;
    for (int y = z.y0; y < z.y1; ++y) {
        const std::size_t o =
            (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(z.x0)) * bpp;
        const RowCount r =
            DiffRowStandard(reference_.data() + o, current_.data() + o, writeMask ? mask_.data() + o : nullptr,
                            sampleX_.data() + static_cast<std::size_t>(z.x0) * bpp, n, noise);
        count += r.count;
        sumX += r.sumX;
        sumY += static_cast<std::uint64_t>(r.count) * static_cast<std::uint64_t>(y);
    }
    const std::uint64_t divisor = std::max<std::uint64_t>(count, 1);
    auto& st = state_[static_cast<std::size_t>(slot)];
    st.centreX.store(static_cast<int>(sumX / divisor));
    st.centreY.store(static_cast<int>(sumY / divisor));
    const int result = static_cast<int>(((30 / std::min(bpp, 3)) * count) / 10);
    st.lastStandard.store(result);
    return result;
}

int WebCam::alg_diff_standard(int slot)
{
    if (slot < 0 || slot >= kZoneSlots)
        return 0;
    return MeasureStandard(slot, zones_.Zone(slot));
}

void WebCam::CopyFrameInto(std::vector<std::uint8_t>& image)
{
    const std::size_t n = std::min({current_.size(), image.size(), static_cast<std::size_t>(FrameSize())});
    if (n > 0)
        std::memcpy(image.data(), current_.data(), n);
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
    for (auto& st : state_)
        st.lastStandard.store(0);
    if (recorder_ != nullptr)
        recorder_->StopRecordingForced(*this);
    TRACE_LEVEL(102, "creation reference image");
}

void WebCam::ComputeZoneThresholds()
{
    if (!CaptureRunning())
        return;
    for (int i = 0; i < kMaxZones; ++i) {
        state_[static_cast<std::size_t>(i)].shareOfZones.store(0);
        state_[static_cast<std::size_t>(i)].shareOfPicture.store(0);
    }
    const int width = Width(), height = Height();
    ZoneSnapshot snap = zones_.Snapshot();
    long long total = 0;
    for (int k = 0; k < snap.count; ++k) {
        const auto& z = snap.slots[static_cast<std::size_t>(k)];
        if (z.x1 > width || z.y1 > height) {
            snap.count = 0;
            total = 0;
            break;
        }
        total += static_cast<long long>(z.x1 - z.x0) * (z.y1 - z.y0);
    }
    if (total == 0)
        snap.count = 0;
    if (snap.count != zones_.Count())
        zones_.SetCount(snap.count);
    const int maxDiff = MaxDiff();
    TRACE_TRACE("Tout = %d chgt", maxDiff);
    int largest = 0;
    for (int k = 0; k < snap.count; ++k) {
        const auto& z = snap.slots[static_cast<std::size_t>(k)];
        auto& st = state_[static_cast<std::size_t>(k)];
        const double area = static_cast<double>(z.y1 - z.y0) * (z.x1 - z.x0) * 10000.0;
        const int shareZones = static_cast<int>(std::trunc(area / static_cast<double>(total))) + 1;
        const int sharePicture =
            static_cast<int>(std::trunc(area / (static_cast<double>(height) * static_cast<double>(width)))) + 1;
        const int threshold = static_cast<int>((static_cast<long long>(sharePicture) * maxDiff) / 10000 + 1);
        const int step = std::clamp(threshold / 10, 1, 40);
        st.shareOfZones.store(shareZones);
        st.shareOfPicture.store(sharePicture);
        st.threshold.store(threshold);
        st.step.store(step);
        largest = std::max(largest, threshold);
        TRACE_TRACE("Zone %d =%d %%oo/zones , %d %%oo/tout, %d chgt, %d iteration", k + 1, shareZones, sharePicture,
                    threshold, step);
        TRACE_TRACE("Zone %d = %d,%d     %d,%d", k + 1, z.x0, z.y0, z.x1, z.y1);
    }
    if (display_ != nullptr)
        display_->SetActivityRange(0, largest);
}

void WebCam::WriteZoneCorners(int count)
{
    if (paths_.settingsFile.empty())
        return;
    const std::string& f = paths_.settingsFile;
    const ZoneSnapshot snap = zones_.Snapshot();
    for (int i = 0; i < count; ++i) {
        const auto& z = snap.slots[static_cast<std::size_t>(i)];
        const std::string n = std::to_string(i);
        prof::WriteInt(f, "Vorlix", "x0_" + n, z.x0);
        prof::WriteInt(f, "Vorlix", "y0_" + n, z.y0);
        prof::WriteInt(f, "Vorlix", "x1_" + n, z.x1);
        prof::WriteInt(f, "Vorlix", "y1_" + n, z.y1);
    }
    prof::WriteInt(f, "Vorlix", "width", Width());
    prof::WriteInt(f, "Vorlix", "height", Height());
}

bool WebCam::ResizeBuffers(int width, int height)
{
    if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) {
        processingStopped_.store(true);
        TRACE_ERROR("ResizeBuffers: picture size %dx%d refused, frames no longer processed", width, height);
        return false;
    }
    try {
        const std::size_t bytes = ImageBytes(width, height);
        std::vector<std::uint8_t> ref(bytes), prev(bytes), ann(bytes), mask(bytes);
        reference_.swap(ref);
        previous_.swap(prev);
        annotated_.swap(ann);
        mask_.swap(mask);
    } catch (const std::bad_alloc&) {
        processingStopped_.store(true);
        reference_.clear();
        previous_.clear();
        annotated_.clear();
        mask_.clear();
        TRACE_ERROR("ResizeBuffers: no memory for %dx%d images, frames no longer processed", width, height);
        return false;
    }
    processingStopped_.store(false);
    width_.store(width);
    height_.store(height);
    const int bpp = std::max(BytesPerPixel(Format()), 1);
    frameSize_.store(Format() == kFourccI420 ? width * height * 3 / 2 : width * height * bpp);
    topDown_.store(kTopDown);
    clientRefresh_.store(true);
    lastDetection_.store(0);
    sampleXBpp_ = 0;
    previousValid_ = false;

    const int savedW = savedWidth_.load(), savedH = savedHeight_.load();
    ZoneSnapshot snap = zones_.Snapshot();
    bool changed = false;
    for (int i = 0; i < snap.count; ++i) {
        auto& z = snap.slots[static_cast<std::size_t>(i)];
        const ZoneCorners before = z;
        if (z.whole) {
            z = {0, 0, width, height, true};
        } else {
            if (savedW != 0 && savedH != 0 && (savedW != width || savedH != height)) {
                z.x0 = width * z.x0 / savedW;
                z.y0 = z.y0 * height / savedH;
                z.x1 = z.x1 * width / savedW;
                z.y1 = z.y1 * height / savedH;
            }
            if (z.x0 > width || z.y0 > height) {
                z = {0, 0, 0, 0, false};
            } else {
                z.x1 = std::min(z.x1, width);
                z.y1 = std::min(z.y1, height);
            }
        }
        if (!(z == before))
            changed = true;
    }
    // The scratch slot starts as the whole picture.
    if (snap.count < kZoneSlots)
        snap.slots[static_cast<std::size_t>(snap.count)] = {0, 0, width, height, false};
    zones_.SetAll(snap);
    const bool hadSaved = savedW != 0 && savedH != 0;
    savedWidth_.store(width);
    savedHeight_.store(height);
    {
        std::lock_guard lock(settingsMutex_);
        settings_.savedWidth = width;
        settings_.savedHeight = height;
    }
    if (!hadSaved || changed)
        WriteZoneCorners(snap.count);
    return true;
}

void WebCam::ProcessFrame(const Frame& frame)
{
    // 1. Size change.
    if (frame.format != Format()) {
        format_.store(frame.format);
        sampleXBpp_ = 0;
    }
    if (frame.width != Width() || frame.height != Height() || reference_.empty()) {
        if (!processingStopped_.load() || frame.width != Width() || frame.height != Height()) {
            if (ResizeBuffers(frame.width, frame.height))
                ComputeZoneThresholds();
        }
    }
    if (processingStopped_.load())
        return;
    topDown_.store(frame.topDown);
    current_ = frame.data;
    struct ClearCurrent {
        std::span<const std::uint8_t>& frame;
        ~ClearCurrent() { frame = {}; }
    } clearCurrent{current_};

    // 2. Save image.
    if (saveImageRequest_.load()) {
        CopyFrameInto(annotated_);
        if (actions_ != nullptr)
            actions_->OnSaveImage(*this);
        saveImageRequest_.store(false);
        return;
    }
    // 3. Processing switched off.
    if (MaxDiff() == 0)
        return;

    // 4. Client refresh.
    if (clientRefresh_.load()) {
        TRACE_LEVEL(102, "refresh current image for a possible client");
        if (lastDetection_.load() == 0)
            CreateReferenceImage();
        clientRefresh_.store(false);
        CopyFrameInto(annotated_);
        if (actions_ != nullptr)
            actions_->OnClientRefresh(*this);
        return;
    }

    const bool displayOn = DisplayOn() && display_ != nullptr;
    int matched = 0;
    int sum = 0;
    int detected = 0;
    bool overlayDrawn = false;
    if (DetectionOn()) {
        const ZoneSnapshot snap = zones_.Snapshot();
        const std::time_t now = Now();
        // 6. Fast pass against the previous image.
        int fired = -1;
        for (int i = 0; i < snap.count; ++i) {
            auto& st = state_[static_cast<std::size_t>(i)];
            const int m = MeasureFast(snap.slots[static_cast<std::size_t>(i)], st.step.load());
            st.measure.store(m);
            if (m > st.threshold.load()) {
                fired = i;
                break;
            }
            sum += m;
        }
        bool all = true;
        if (fired < 0) {
            // 7. Calm frame.
            if (now - lastDetection_.load() > ReferenceSeconds()) {
                CreateReferenceImage();
                lastDetection_.store(now);
            }
        } else {
            // 8. Reference pass.
            auto& sf = state_[static_cast<std::size_t>(fired)];
            TRACE_LEVEL(102, "La zone %d match(previous image) (%d > %d)", fired + 1, sf.measure.load(),
                        sf.threshold.load());
            lastDetection_.store(now);
            sum = 0;
            for (int j = 0; j < snap.count; ++j) {
                auto& st = state_[static_cast<std::size_t>(j)];
                SetMaskWriting(true);
                const int r = MeasureStandard(j, snap.slots[static_cast<std::size_t>(j)]);
                st.measure.store(r);
                if (r > st.threshold.load()) {
                    TRACE_LEVEL(102, "la zone %d match (reference image)(%d > %d)", j + 1, r, st.threshold.load());
                    ++matched;
                    detected = j;
                } else {
                    all = false;
                }
                sum += r;
            }
            if (matched == 0) {
                TRACE_LEVEL(102, "now=reference image");
                CopyFrameInto(previous_);
                previousValid_ = true;
            }
        }
        // 9. Activity bar.
        if (displayOn)
            display_->SetActivityPosition(std::min(sum, 5000));
        if (matched == 0) {
            // 10. Quiet frame.
            if (recorder_ != nullptr)
                recorder_->RecorderOnQuietFrame(*this);
            if (displayOn)
                display_->SetActivityColour(kActivityGreen);
        } else {
            // 11. Detection.
            Detection d;
            d.zone = detected;
            d.sum = sum;
            char buf[128];
            if (matched == 1) {
                if (classification_ != nullptr) {
                    const SingleZoneResult r = classification_->ClassifySingleZone(*this, detected);
                    d.kind = r.kind;
                    d.label = r.label;
                } else {
                    d.kind = EventKind::IN;
                    std::snprintf(buf, sizeof buf, "%s%d (%d) ", Translate("IN").c_str(), detected + 1, sum);
                    d.label = buf;
                }
                d.zoneMask = 1u << detected;
            } else {
                const int next = (shots.load() + 1) % std::max(MaxJpg(), 1);
                if (all) {
                    d.kind = EventKind::ALLZ;
                    std::snprintf(buf, sizeof buf, "%s (%d) ", Translate("ALLZ").c_str(), sum);
                    d.label = buf;
                    for (int j = 0; j < snap.count; ++j)
                        d.zoneMask |= 1u << j;
                    lastDetection_.store(now + 2 - ReferenceSeconds());
                } else {
                    d.kind = EventKind::SOMEZ;
                    std::string list;
                    for (int j = 0; j < snap.count; ++j) {
                        auto& st = state_[static_cast<std::size_t>(j)];
                        if (st.measure.load() > st.threshold.load()) {
                            if (classification_ != nullptr) {
                                classification_->TrackMovement(*this, j, j);
                                classification_->CheckDirections(*this, j);
                            }
                            list += "_" + std::to_string(j + 1);
                            d.zoneMask |= 1u << j;
                        }
                    }
                    std::snprintf(buf, sizeof buf, "%s%s (%d) ", Translate("SOMEZ").c_str(), list.c_str(), sum);
                    d.label = buf;
                }
                TRACE_INFO("%s (%d)", d.label.c_str(), next);
            }
            if (displayOn)
                display_->SetActivityColour(kActivityBlue);
            CopyFrameInto(previous_);
            previousValid_ = true;
            CopyFrameInto(annotated_);
            if (FollowDetection() && display_ != nullptr) {
                display_->DrawDetectionOverlay(*this);
                overlayDrawn = true;
            }
            if (actions_ != nullptr)
                actions_->OnDetection(*this, d);
        }
    }
    // 12. Display.
    if (displayOn)
        display_->Paint(*this, overlayDrawn);
}

}  // namespace vorlix
