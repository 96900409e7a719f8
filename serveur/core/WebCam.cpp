// The motion detection engine of the camera object.
#include "serveur/core/WebCam.h"

#include <algorithm>
#include <cerrno>
#include <climits>
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
    if (z.x1 <= z.x0 || z.y1 <= z.y0)
        return 0;
    step = std::max(step, 1);
    const int noise = Noise();
    const std::size_t o =
        (static_cast<std::size_t>(z.y0) * static_cast<std::size_t>(width) + static_cast<std::size_t>(z.x0)) * bpp;
    const ZoneRun run{previous_.data() + o,
                      current_.data() + o,
                      nullptr,
                      static_cast<std::size_t>(width) * bpp,
                      z.x1 - z.x0,
                      z.y1 - z.y0,
                      bpp,
                      z.x0,
                      z.y0};
    const std::uint64_t count = DiffZoneFast(run, step, noise);
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
    const ZoneCorners z = Clipped(zone, width, height);
    const bool writeMask = MaskWriting();
    const int noise = Noise();
    // An empty zone may start one row past the picture: no pointer into it then.
    const std::size_t o =
        (z.x1 <= z.x0 || z.y1 <= z.y0)
            ? 0
            : (static_cast<std::size_t>(z.y0) * static_cast<std::size_t>(width) + static_cast<std::size_t>(z.x0)) * bpp;
    const ZoneRun run{reference_.data() + o,
                      current_.data() + o,
                      writeMask ? mask_.data() + o : nullptr,
                      static_cast<std::size_t>(width) * bpp,
                      z.x1 - z.x0,
                      z.y1 - z.y0,
                      bpp,
                      z.x0,
                      z.y0};
    const ZoneTally c = (z.x1 > z.x0 && z.y1 > z.y0) ? DiffZoneStandard(run, noise) : ZoneTally{};
    const std::uint64_t count = c.count, sumX = c.sumX, sumY = c.sumY;
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
    if (RecorderHook* recorder = recorder_.load())
        recorder->StopRecordingForced(*this);
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
    // An inverted zone (corners swapped in the file) covers nothing: its area
    // counts as 0, so its threshold stays positive and it never matches.
    const auto area = [](const ZoneCorners& z) {
        return static_cast<long long>(std::max(z.x1 - z.x0, 0)) * std::max(z.y1 - z.y0, 0);
    };
    long long total = 0;
    for (int k = 0; k < snap.count; ++k) {
        const auto& z = snap.slots[static_cast<std::size_t>(k)];
        if (z.x1 > width || z.y1 > height) {
            snap.count = 0;
            total = 0;
            break;
        }
        total += area(z);
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
        const double scaled = static_cast<double>(area(z)) * 10000.0;
        const int shareZones = static_cast<int>(std::trunc(scaled / static_cast<double>(total))) + 1;
        const int sharePicture =
            static_cast<int>(std::trunc(scaled / (static_cast<double>(height) * static_cast<double>(width)))) + 1;
        const long long chgt = static_cast<long long>(sharePicture) * maxDiff / 10000 + 1;
        const int threshold = static_cast<int>(std::clamp<long long>(chgt, INT_MIN, INT_MAX));
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
    if (DisplayHook* display = display_.load())
        display->SetActivityRange(0, largest);
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

void WebCam::StoreFrameSize()
{
    // Every image copy copies one frame: the bytes the delivered format takes.
    const std::size_t pixels = static_cast<std::size_t>(Width()) * static_cast<std::size_t>(Height());
    const int fmt = Format();
    const std::size_t bytes = fmt == kFourccI420 ? pixels * 3 / 2 : pixels * std::max(BytesPerPixel(fmt), 1);
    frameSize_.store(static_cast<int>(std::min(bytes, ImageBytes(Width(), Height()))));
}

bool WebCam::AllocateImages(int width, int height)
{
    const std::size_t bytes = ImageBytes(width, height);
    const std::size_t limit = imageMemoryLimit_.load();
    if (limit != 0 && bytes * 4 > limit)
        return false;
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
    bool changed = false;
    for (int i = 0; i < snap.count; ++i) {
        auto& z = snap.slots[static_cast<std::size_t>(i)];
        const ZoneCorners before = z;
        if (z.whole) {
            z = {0, 0, width, height, true};
        } else {
            if (savedW != 0 && savedH != 0 && (savedW != width || savedH != height)) {
                const auto scale = [](long long a, long long b, long long c) { return static_cast<int>(a * b / c); };
                z.x0 = scale(width, z.x0, savedW);
                z.y0 = scale(z.y0, height, savedH);
                z.x1 = scale(z.x1, width, savedW);
                z.y1 = scale(z.y1, height, savedH);
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
    // 1. Format and size of the delivered frame.
    if (frame.format != Format()) {
        format_.store(frame.format);
        StoreFrameSize();
    }
    if (frame.width != Width() || frame.height != Height() || reference_.empty()) {
        // A size already refused is not retried on every frame.
        const bool refusedAgain = frame.width == refusedWidth_ && frame.height == refusedHeight_;
        if (!refusedAgain && ResizeBuffers(frame.width, frame.height))
            ComputeZoneThresholds();
    }
    if (processingStopped_.load())
        return;
    topDown_.store(frame.topDown);
    current_ = frame.data;
    struct ClearCurrent {
        std::span<const std::uint8_t>& frame;
        ~ClearCurrent() { frame = {}; }
    } clearCurrent{current_};
    EventActionsHook* const actions = actions_.load();

    // 2. Save image (a request made meanwhile waits for the next frame).
    if (saveImageRequest_.exchange(false)) {
        CopyFrameInto(annotated_);
        if (actions != nullptr)
            actions->OnSaveImage(*this);
        return;
    }
    // 3. Processing switched off: no detection, no display.
    if (MaxDiff() == 0)
        return;

    // 4. Client refresh.
    if (clientRefresh_.exchange(false)) {
        TRACE_LEVEL(102, "refresh current image for a possible client");
        if (lastDetection_.load() == 0)
            CreateReferenceImage();
        CopyFrameInto(annotated_);
        if (actions != nullptr)
            actions->OnClientRefresh(*this);
        return;
    }

    DisplayHook* const display = display_.load();
    const bool displayOn = DisplayOn() && display != nullptr;
    bool overlayDrawn = false;
    // 5. Detection off: only the display.
    if (DetectionOn())
        overlayDrawn = Detect(display, displayOn, actions);
    // 12. Display.
    if (displayOn)
        display->Paint(*this, overlayDrawn);
}

bool WebCam::Detect(DisplayHook* display, bool displayOn, EventActionsHook* actions)
{
    const ZoneSnapshot snap = zones_.Snapshot();
    const std::time_t now = Now();
    int matched = 0;
    int sum = 0;
    int detected = 0;
    bool all = true;
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
        all = false;
    }
    if (fired < 0) {
        // 7. Nothing changed against the previous image.
        if (now - lastDetection_.load() > ReferenceSeconds()) {
            CreateReferenceImage();
            lastDetection_.store(now);
        }
    } else {
        // 8. Reference pass over every zone.
        auto& sf = state_[static_cast<std::size_t>(fired)];
        TRACE_LEVEL(102, "La zone %d match(previous image) (%d > %d)", fired + 1, sf.measure.load(),
                    sf.threshold.load());
        lastDetection_.store(now);
        matched = 0;
        all = true;
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
        display->SetActivityPosition(std::min(sum, 5000));
    if (matched == 0) {
        // 10. A quiet frame.
        if (RecorderHook* recorder = recorder_.load())
            recorder->RecorderOnQuietFrame(*this);
        if (displayOn)
            display->SetActivityColour(kActivityGreen);
        return false;
    }

    // 11. Detection.
    Detection d;
    d.zone = detected;
    d.sum = sum;
    ClassificationHook* const classification = classification_.load();
    char buf[160];
    if (matched == 1) {
        if (classification != nullptr) {
            SingleZoneResult r = classification->ClassifySingleZone(*this, detected);
            d.kind = r.kind;
            d.label = std::move(r.label);
        } else {
            d.kind = EventKind::IN;
            std::snprintf(buf, sizeof buf, "%s%d (%d) ", Translate("IN").c_str(), detected + 1, sum);
            d.label = buf;
        }
    } else {
        const int next = (shots.load() + 1) % std::max(MaxJpg(), 1);
        if (all) {
            d.kind = EventKind::ALLZ;
            std::snprintf(buf, sizeof buf, "%s (%d) ", Translate("ALLZ").c_str(), sum);
            d.label = buf;
            // The reference image is renewed on the first calm frame three or more seconds later.
            lastDetection_.store(now + 2 - ReferenceSeconds());
        } else {
            d.kind = EventKind::SOMEZ;
            std::string list;
            for (int j = 0; j < snap.count; ++j) {
                auto& st = state_[static_cast<std::size_t>(j)];
                if (st.measure.load() > st.threshold.load()) {
                    if (classification != nullptr) {
                        classification->TrackMovement(*this, j, j);
                        classification->CheckDirections(*this, j);
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
        display->SetActivityColour(kActivityBlue);
    CopyFrameInto(previous_);
    previousValid_ = true;
    bool overlayDrawn = false;
    if (FollowDetection() && display != nullptr) {
        // The event actions copy the frame into the annotated image themselves;
        // only the overlay needs it here first.
        CopyFrameInto(annotated_);
        display->DrawDetectionOverlay(*this);
        overlayDrawn = true;
    }
    if (actions != nullptr)
        actions->OnDetection(*this, d);
    return overlayDrawn;
}

}  // namespace vorlix
