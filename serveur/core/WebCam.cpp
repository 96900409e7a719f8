// The road of one frame through the camera object: format and size, the
// main window's requests, the two passes of the detection engine and the
// values handed to the road's classifier and consumers.
#include "serveur/core/WebCam.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "libkestrel/trace/QXTrace.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/DetectionScale.h"
#include "serveur/core/PictureNames.h"
#include "serveur/core/ZoneMath.h"

namespace vorlix {

WebCam::WebCam(TimeSource clock) : published_(std::make_shared<const CameraSettings>())
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

PictureRequest WebCam::NewRequest(std::string path, std::time_t now)
{
    PictureRequest request;
    request.picture = Picture();
    request.camera = Facts();
    request.path = std::move(path);
    request.time = now;
    return request;
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
        // A frame is proof that capture runs, even before its starter has said so.
        if (!refusedAgain && ResizeBuffers(frame.width, frame.height)) {
            ThresholdsForFrameSize();
        }
    }
    if (processingStopped_.load()) {
        return;
    }
    if (frame.scale != DetectionScale()) {
        // Thresholds follow the pixels a zone holds at the measured size.
        detectionScale_.store(frame.scale);
        ThresholdsForFrameSize();
    }
    topDown_.store(frame.topDown);
    current_ = frame.data;
    full_ = frame.scale > 1 ? frame.full : nullptr;
    struct ClearCurrent {
        std::span<const std::uint8_t>& frame;
        FullFrameSource*& full;
        ~ClearCurrent()
        {
            frame = {};
            full = nullptr;
        }
    } clearCurrent{current_, full_};
    const DetectionRoad* const road = road_.load();
    if (road != nullptr) {
        OfferLiveFrame(*road);
    }

    // 2. Save image (a request made meanwhile waits for the next frame).
    if (saveImageRequest_.exchange(false)) {
        CopyFrameInto(annotated_);
        if (road != nullptr) {
            const int saved = saveCounter.load();
            const PictureRequest request = NewRequest(SavedPicturePath(PictureDir(), saved, MaxJpg()), Now());
            for (DetectionConsumer* consumer : road->Consumers()) {
                consumer->OnSaveImage(request);
            }
            saveCounter.store(saved + 1);
        }
        return;
    }
    // 3. Processing switched off: no detection, no display.
    if (MaxDiff() == 0) {
        return;
    }

    // 4. Client refresh.
    if (clientRefresh_.exchange(false)) {
        TRACE_LEVEL(kestrel::kLevelUser2, "refresh current image for a possible client");
        if (lastDetection_.load() == 0) {
            CreateReferenceImage();
        }
        CopyFrameInto(annotated_);
        if (road != nullptr) {
            const PictureRequest request = NewRequest(RefreshPicturePath(PictureDir()), Now());
            for (DetectionConsumer* consumer : road->Consumers()) {
                consumer->OnClientRefresh(request);
            }
        }
        return;
    }

    DisplayHook* const display = road != nullptr ? road->Display() : nullptr;
    const bool displayOn = DisplayOn() && display != nullptr;
    bool overlayDrawn = false;
    // 5. Detection off: only the display.
    if (DetectionOn()) {
        overlayDrawn = Detect(road, display, displayOn);
    }
    // 12. Display: the frame as written, overlay included when it was drawn.
    if (displayOn) {
        Frame shown = frame;
        if (overlayDrawn) {
            shown.data = overlaid_;
        }
        display->Paint(shown, Marks(overlayDrawn));
    }
}

DisplayMarks WebCam::Marks(bool overlayDrawn) const
{
    DisplayMarks marks;
    marks.overlayDrawn = overlayDrawn;
    marks.followDetection = FollowDetection();
    marks.zones = zones_.Snapshot();
    for (int i = 0; i < kZoneSlots; ++i) {
        const ZoneState& st = state_[static_cast<std::size_t>(i)];
        marks.marks[static_cast<std::size_t>(i)] =
            ZoneMark{st.measure.load(), st.centreX.load(), st.centreY.load(), st.lastStandard.load()};
    }
    marks.mask = mask_;
    return marks;
}

bool WebCam::DrawOverlay(const DetectionRoad* road, const Detection& detection)
{
    DetectionOverlay* const overlay = road != nullptr ? road->Overlay() : nullptr;
    if (!FollowDetection() || overlay == nullptr || current_.empty()) {
        return false;
    }
    // The capture layer's buffer is not ours to draw on: the overlay goes
    // into a copy, which stands for the frame from here on (picture, stream,
    // window).
    overlaid_.assign(current_.begin(), current_.end());
    overlay->DrawDetectionOverlay(detection, overlaid_, mask_);
    current_ = overlaid_;
    return true;
}

void WebCam::OfferLiveFrame(const DetectionRoad& road)
{
    std::optional<FramePicture> live;
    for (DetectionConsumer* consumer : road.Consumers()) {
        if (consumer->WantsLiveFrame()) {
            if (!live) {
                live = Picture();
            }
            if (!live->rgb.empty()) {
                consumer->OnLiveFrame(*live);
            }
        }
    }
}

bool WebCam::Detect(const DetectionRoad* road, DisplayHook* display, bool displayOn)
{
    const ZoneSnapshot snap = zones_.Snapshot();
    const MeasuredPicture picture = Measured();
    const std::time_t now = Now();
    int matched = 0;
    int sum = 0;
    int detected = 0;
    bool all = true;
    // 6. Fast pass against the previous image.
    int fired = -1;
    for (int i = 0; i < snap.count; ++i) {
        auto& st = state_[static_cast<std::size_t>(i)];
        const int m = FastPass(picture, snap.slots[static_cast<std::size_t>(i)], st.step.load());
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
        // 8. Reference pass over every zone, the change mask written.
        auto& sf = state_[static_cast<std::size_t>(fired)];
        TRACE_LEVEL(kestrel::kLevelUser2, "La zone %d match(previous image) (%d > %d)", fired + 1, sf.measure.load(),
                    sf.threshold.load());
        lastDetection_.store(now);
        matched = 0;
        all = true;
        sum = 0;
        for (int j = 0; j < snap.count; ++j) {
            auto& st = state_[static_cast<std::size_t>(j)];
            const int r = ReferencePass(picture, j, snap.slots[static_cast<std::size_t>(j)], true);
            st.measure.store(r);
            if (r > st.threshold.load()) {
                TRACE_LEVEL(kestrel::kLevelUser2, "la zone %d match (reference image)(%d > %d)", j + 1, r,
                            st.threshold.load());
                ++matched;
                detected = j;
            } else {
                all = false;
            }
            sum += r;
        }
        if (matched == 0) {
            TRACE_LEVEL(kestrel::kLevelUser2, "now=reference image");
            CopyFrameInto(previous_);
            previousValid_ = true;
        }
    }
    // 9. Activity bar.
    if (displayOn) {
        display->SetActivityPosition(std::min(sum, 5000));
    }
    if (matched == 0) {
        // 10. A quiet frame.
        if (road != nullptr) {
            for (DetectionConsumer* consumer : road->Consumers()) {
                consumer->OnQuietFrame();
            }
        }
        if (displayOn) {
            display->SetActivityColour(kActivityGreen);
        }
        return false;
    }

    // 11. Detection: measured and numbered here, named by the classifier,
    // then handed to every consumer.
    Detection d = NewDetection(picture, snap, now, matched, detected, sum, all);
    if (road != nullptr && road->Classifier() != nullptr) {
        road->Classifier()->Classify(d);
    }
    if (matched > 1) {
        TRACE_INFO("%s (%d)", d.label.c_str(), (d.shotsBefore + 1) % std::max(MaxJpg(), 1));
    }
    if (displayOn) {
        display->SetActivityColour(kActivityBlue);
    }
    CopyFrameInto(previous_);
    previousValid_ = true;
    bool overlayDrawn = false;
    if (full_ == nullptr) {
        overlayDrawn = DrawOverlay(road, d);
    } else {
        // A frame measured at a fraction: the overlay is drawn on it in its
        // own terms (the whole picture is decoded apart and carries none).
        Detection shown = d;
        shown.width = Width();
        shown.height = Height();
        for (int j = 0; j < shown.zoneCount; ++j) {
            const auto& st = state_[static_cast<std::size_t>(j)];
            ZoneReading& r = shown.zones[static_cast<std::size_t>(j)];
            r.zone = snap.slots[static_cast<std::size_t>(j)];
            r.centreX = st.centreX.load();
            r.centreY = st.centreY.load();
        }
        shown.enlarged.zone = EnlargedZone(snap.slots[static_cast<std::size_t>(d.zone)], Width(), Height());
        overlayDrawn = DrawOverlay(road, shown);
    }
    if (road == nullptr) {
        return overlayDrawn;
    }
    DetectionPictureWriter* const writer = road->PictureWriter();
    if (writer != nullptr || !road->Consumers().empty()) {
        d.picture = Picture();
    }
    d.pictureWritten = writer == nullptr || writer->WriteDetectionPicture(d);
    for (DetectionConsumer* consumer : road->Consumers()) {
        consumer->OnDetection(d);
    }
    // A picture that was not written is not counted: the next detection
    // takes its slot, and "Current shots" never points past the pictures.
    if (d.pictureWritten) {
        shots.store(d.shot);
    }
    return overlayDrawn;
}

Detection WebCam::NewDetection(const MeasuredPicture& picture, const ZoneSnapshot& snap, std::time_t now, int matched,
                               int detected, int sum, bool all)
{
    Detection d;
    d.zone = detected;
    d.sum = sum;
    d.matched = matched;
    d.zoneCount = std::min(snap.count, kMaxZones);
    for (int j = 0; j < d.zoneCount; ++j) {
        const auto& st = state_[static_cast<std::size_t>(j)];
        d.zones[static_cast<std::size_t>(j)] = ZoneReading{snap.slots[static_cast<std::size_t>(j)], st.measure.load(),
                                                           st.threshold.load(), st.centreX.load(), st.centreY.load()};
    }
    d.width = Width();
    d.height = Height();
    d.format = Format();
    d.topDown = TopDown();
    d.time = now;
    d.camera = Facts();
    d.shotsBefore = shots.load();
    d.shot = d.shotsBefore + 1;
    d.pictureNumber = NextPictureNumber(d.shotsBefore, MaxJpg());
    d.picturePath = PicturePath(d.camera.pictureDir, d.pictureNumber);
    d.soundPath = SoundPath(d.camera.pictureDir, d.pictureNumber);

    if (matched == 1) {
        // The enlarged zone, measured without the change mask (classification
        // tells IN from AHEAD and NEAR by it): the zone's own tally of the
        // reference pass plus the band around it. Its results also go to the
        // scratch slot, where the window's overlay reads them.
        const int scratch = std::min(snap.count, kZoneSlots - 1);
        const ZoneCorners& zone = snap.slots[static_cast<std::size_t>(detected)];
        ZoneReading& e = d.enlarged;
        e.zone = EnlargedZone(zone, d.width, d.height);
        if (const std::optional<StandardMeasure> m =
                MeasureAround(picture, reference_, zone, tallies_[static_cast<std::size_t>(detected)], e.zone)) {
            auto& st = state_[static_cast<std::size_t>(scratch)];
            st.centreX.store(m->centreX);
            st.centreY.store(m->centreY);
            st.lastStandard.store(m->measure);
            e.measure = m->measure;
            e.centreX = m->centreX;
            e.centreY = m->centreY;
        }
    }
    // Measured at a fraction of the picture: handed on in the picture's terms.
    if (full_ != nullptr) {
        const std::pair<int, int> size = full_->FullSize();
        DetectionToPicture(d, DetectionScale(), size.first, size.second);
    }

    std::shared_ptr<const LabelWords> words;
    {
        const std::lock_guard lock(settingsMutex_);
        words = labelWords_;
    }
    static const LabelWords kUntranslated;
    const LabelWords& w = words ? *words : kUntranslated;
    char buf[160];
    if (matched == 1) {
        d.kind = EventKind::IN;
        std::snprintf(buf, sizeof buf, "%s%d (%d) ", w.in.c_str(), detected + 1, d.sum);
        d.label = buf;
    } else if (all) {
        d.kind = EventKind::ALLZ;
        std::snprintf(buf, sizeof buf, "%s (%d) ", w.allz.c_str(), d.sum);
        d.label = buf;
        // The reference image is renewed on the first calm frame three or more seconds later.
        lastDetection_.store(now + 2 - ReferenceSeconds());
    } else {
        d.kind = EventKind::SOMEZ;
        std::string list;
        for (int j = 0; j < d.zoneCount; ++j) {
            if (d.zones[static_cast<std::size_t>(j)].Matched()) {
                list += "_" + std::to_string(j + 1);
                d.zoneMask |= 1U << static_cast<unsigned>(j);
            }
        }
        std::snprintf(buf, sizeof buf, "%s%s (%d) ", w.somez.c_str(), list.c_str(), d.sum);
        d.label = buf;
    }
    return d;
}

}  // namespace vorlix
