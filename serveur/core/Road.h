// The one-way road of a frame: the engine measures, one classifier names a
// detection, then every consumer receives the same value in the order it was
// registered. No stop calls back into the camera object; what a stop needs
// travels in the value. The road is wired once, in the server's camera
// assembly, before capture starts, and is not changed while frames flow.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "serveur/core/Detection.h"
#include "serveur/core/Frame.h"

namespace vorlix {

// Names a detection and follows movement: the single-zone kind and label,
// the tracking of every matching zone and the direction events it calls for.
class DetectionClassifier {
public:
    virtual ~DetectionClassifier() = default;
    // On the capture thread, before any consumer sees `detection`.
    virtual void Classify(Detection& detection) = 0;
};

// Writes the detection's picture before any consumer sees the value and says
// whether it reached the disk: the shot counter only counts pictures that
// were written, and the consumers read the outcome in `pictureWritten`.
class DetectionPictureWriter {
public:
    virtual ~DetectionPictureWriter() = default;
    // On the capture thread, after the classifier.
    virtual bool WriteDetectionPicture(const Detection& detection) = 0;
};

// A consumer of the road (pictures, stream, FTP request, mail counter,
// events, recorder, web view). Every call comes on the capture thread; a
// consumer that does slow work hands it to its own thread.
class DetectionConsumer {
public:
    virtual ~DetectionConsumer() = default;
    virtual void OnSaveImage(const PictureRequest& /*request*/) {}
    virtual void OnClientRefresh(const PictureRequest& /*request*/) {}
    virtual void OnDetection(const Detection& /*detection*/) {}
    // A frame measured without detection.
    virtual void OnQuietFrame() {}
    // A new reference image (a running sound recording ends).
    virtual void OnNewReference() {}
    // The newest frame, whether or not anything moves, for a stop that asks
    // for one now (somebody watches and its pace calls for a frame). Asked on
    // every frame, before anything else, so it must answer at once; the
    // frame is converted only when some stop says yes.
    [[nodiscard]] virtual bool WantsLiveFrame() { return false; }
    virtual void OnLiveFrame(const FramePicture& /*picture*/) {}
};

// Draws the detection overlay (zone frames and numbers, the changed samples,
// the centres of change) into a copy of the frame before the picture is
// written, so the saved picture carries it. Capture thread only.
class DetectionOverlay {
public:
    virtual ~DetectionOverlay() = default;
    // `frame` holds the frame's bytes in its own format; `mask` is the change
    // mask of the reference pass (one byte per sample).
    virtual void DrawDetectionOverlay(const Detection& detection, std::span<std::uint8_t> frame,
                                      std::span<const std::uint8_t> mask) = 0;
};

// What a zone's centre marker is drawn from: its last measure, the centre of
// its changed samples and its last reference result.
struct ZoneMark {
    int measure = 0;
    int centreX = 0;
    int centreY = 0;
    int result = 0;
};

// What the window draws over a painted frame besides the picture itself.
struct DisplayMarks {
    bool overlayDrawn = false;     // the frame already carries the detection overlay
    bool followDetection = false;  // "follow detection"
    ZoneSnapshot zones;            // framed and numbered (count 0: none)
    std::array<ZoneMark, kZoneSlots> marks{};
    std::span<const std::uint8_t> mask;  // the change mask, valid during the call
};

// The main window's picture and activity bar (one per camera).
class DisplayHook {
public:
    virtual ~DisplayHook() = default;
    virtual void SetActivityRange(int low, int high) = 0;
    virtual void SetActivityPosition(int position) = 0;
    virtual void SetActivityColour(std::uint32_t colour) = 0;
    // Zone frames, selection and (when asked and not yet drawn) the overlay
    // onto a copy of `frame`, then the picture.
    virtual void Paint(const Frame& frame, const DisplayMarks& marks) = 0;
};

class DetectionRoad {
public:
    void SetClassifier(DetectionClassifier* classifier) { classifier_ = classifier; }
    void SetDisplay(DisplayHook* display) { display_ = display; }
    void SetOverlay(DetectionOverlay* overlay) { overlay_ = overlay; }
    void SetPictureWriter(DetectionPictureWriter* writer) { pictureWriter_ = writer; }
    // Consumers receive each value in the order of these calls.
    void Add(DetectionConsumer& consumer) { consumers_.push_back(&consumer); }

    [[nodiscard]] DetectionClassifier* Classifier() const { return classifier_; }
    [[nodiscard]] DisplayHook* Display() const { return display_; }
    [[nodiscard]] DetectionOverlay* Overlay() const { return overlay_; }
    [[nodiscard]] DetectionPictureWriter* PictureWriter() const { return pictureWriter_; }
    [[nodiscard]] const std::vector<DetectionConsumer*>& Consumers() const { return consumers_; }

private:
    DetectionClassifier* classifier_ = nullptr;
    DisplayHook* display_ = nullptr;
    DetectionOverlay* overlay_ = nullptr;
    DetectionPictureWriter* pictureWriter_ = nullptr;
    std::vector<DetectionConsumer*> consumers_;
};

}  // namespace vorlix
