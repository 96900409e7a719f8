// The camera object: settings copies, images, zone table, counters, flags
// and the motion detection engine. One per server process; it owns no
// thread. The capture thread calls ProcessFrame, which hands what it finds
// down the road (Road.h) as values; the main thread changes flags and zones
// through the setters, which are safe against it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "serveur/core/CameraPaths.h"
#include "serveur/core/CameraSettings.h"
#include "serveur/core/Frame.h"
#include "serveur/core/PixelFormat.h"
#include "serveur/core/Road.h"
#include "serveur/core/Translate.h"
#include "serveur/core/ZoneMeasures.h"
#include "serveur/core/ZoneTable.h"

namespace vorlix {

inline constexpr std::uint32_t kActivityGreen = 0x00FF00;
inline constexpr std::uint32_t kActivityBlue = 0xFF0000;
inline constexpr int kMaxZoneCorner = 4096;
inline constexpr int kMaxPictureSide = 16384;

// Derived per-zone values and the results of the last measures. Written by
// one thread, read by others: every field is a single word.
struct ZoneState {
    std::atomic<int> shareOfZones{0};    // parts per ten thousand of all zones, +1
    std::atomic<int> shareOfPicture{0};  // parts per ten thousand of the picture, +1
    std::atomic<int> threshold{0};       // "chgt"
    std::atomic<int> step{1};            // "iteration", 1..40
    std::atomic<int> measure{0};         // last zone measure
    std::atomic<int> centreX{0}, centreY{0};
    std::atomic<int> lastStandard{0};
};

class WebCam : public FrameSink {
public:
    using TimeSource = std::function<std::time_t()>;

    explicit WebCam(TimeSource clock = {});
    ~WebCam() override = default;
    WebCam(const WebCam&) = delete;
    WebCam& operator=(const WebCam&) = delete;

    // ---- Configuration -------------------------------------------------
    // Paths of camera n under `workDir` (default: the current directory),
    // general keys, FTP and mail sections, then LoadDetectionSettings.
    void LoadConfiguration(int camera, const std::string& workDir = {});
    // The same keys again for the running camera (a confirmed configuration,
    // SIGHUP): the paths and the running shot counter stay, so the capture
    // thread may go on meanwhile.
    void ReloadConfiguration();
    void LoadDetectionSettings();
    // Zone saving of a confirmed configuration dialog (window rectangle from the settings copy).
    void SaveZones();
    // "Current shots" = shots modulo "Max jpg" (when the device is closed).
    void SaveShotCounter();

    const CameraPaths& Paths() const { return paths_; }
    const std::string& SettingsFile() const { return paths_.settingsFile; }
    std::string TracesDir() const { return paths_.tracesDir; }
    std::string TraceBase() const { return paths_.traceBase; }
    // The picture directory: "FilePath" when set, else files / files_<n>.
    std::string PictureDir() const;

    CameraSettings SettingsCopy() const;
    // The settings as published at their last change; shared, never copied per frame.
    std::shared_ptr<const CameraSettings> SettingsSnapshot() const;
    // What the road's consumers read of the camera: one snapshot per event.
    CameraFacts Facts() const;
    void UpdateSettings(const std::function<void(CameraSettings&)>& change);
    std::map<std::string, int> FormatProperties() const { return ReadFormatProperties(paths_.settingsFile); }

    std::string Translate(const std::string& text) const { return language_.Translate(text); }

    // ---- The road (null: frames are measured, nothing is handed on) -----
    // Wired once before capture starts; the road must outlive its use here.
    void SetRoad(const DetectionRoad* road) { road_.store(road); }
    void SetTimeSource(TimeSource clock);
    std::time_t Now() const;

    // ---- Frame geometry (capture thread writes, others read) ------------
    int Width() const { return width_.load(); }
    int Height() const { return height_.load(); }
    int Format() const { return format_.load(); }
    int TopDown() const { return topDown_.load(); }
    int FrameSize() const { return frameSize_.load(); }
    // The fraction of the picture the frames are measured at ("Detection scale": 1, 2 or 4).
    int DetectionScale() const { return detectionScale_.load(); }

    // ---- Images (valid on the capture thread, width x height x 4 bytes) --
    std::span<std::uint8_t> AnnotatedImage() { return annotated_; }
    std::span<std::uint8_t> ReferenceImage() { return reference_; }
    std::span<std::uint8_t> PreviousImage() { return previous_; }
    std::span<std::uint8_t> ChangeMask() { return mask_; }
    std::span<const std::uint8_t> CurrentFrame() const { return current_; }
    // The frame the measures compare (set by ProcessFrame for its call).
    void SetCurrentFrame(std::span<const std::uint8_t> frame) { current_ = frame; }
    // The current frame as top-down RGB (converted when the format asks for it).
    FramePicture Picture();

    // ---- Zones ----------------------------------------------------------
    ZoneTable& Zones() { return zones_; }
    const ZoneTable& Zones() const { return zones_; }
    int ZoneCount() const { return zones_.Count(); }
    ZoneCorners Zone(int slot) const { return zones_.Zone(slot); }
    void SetZone(int slot, const ZoneCorners& zone) { zones_.SetZone(slot, zone); }
    void SetZoneCount(int count) { zones_.SetCount(count); }
    // The slot after the last zone, where classification puts the enlarged zone.
    int ScratchSlot() const { return zones_.Count(); }
    ZoneState& State(int slot) { return state_[static_cast<std::size_t>(slot)]; }
    int ZoneMeasure(int slot) const { return state_[static_cast<std::size_t>(slot)].measure.load(); }
    int ZoneThreshold(int slot) const { return state_[static_cast<std::size_t>(slot)].threshold.load(); }
    int ZoneStep(int slot) const { return state_[static_cast<std::size_t>(slot)].step.load(); }
    int ZoneCentreX(int slot) const { return state_[static_cast<std::size_t>(slot)].centreX.load(); }
    int ZoneCentreY(int slot) const { return state_[static_cast<std::size_t>(slot)].centreY.load(); }

    // ---- Detection engine ------------------------------------------------
    void ProcessFrame(const Frame& frame) override;
    int alg_diff_fast(int slot);
    int alg_diff_standard(int slot);
    void SetMaskWriting(bool on) { maskWritingOff_.store(!on); }
    bool MaskWriting() const { return !maskWritingOff_.load(); }
    void CreateReferenceImage();
    // Thresholds for the zones at the frames' size; nothing while capture is
    // stopped or before the size is known.
    void ComputeZoneThresholds();
    // Reallocates the images; false (and frame processing stopped) when they cannot be had.
    bool ResizeBuffers(int width, int height);
    // The most bytes the four images may take together (0: no limit); a
    // larger picture is refused like a failed allocation.
    void SetImageMemoryLimit(std::size_t bytes) { imageMemoryLimit_.store(bytes); }

    // ---- Counters, flags, timing state -----------------------------------
    std::atomic<int> shots{0};        // shot counter (written by the capture thread)
    std::atomic<int> saveCounter{0};  // "Save image" pictures
    int MaxJpg() const { return maxJpg_.load(); }

    void SetDetection(bool on) { detectionOn_.store(on); }
    bool DetectionOn() const { return detectionOn_.load(); }
    void SetDisplayOn(bool on) { displayOn_.store(on); }
    bool DisplayOn() const { return displayOn_.load(); }
    void RequestSaveImage() { saveImageRequest_.store(true); }
    bool SaveImageRequested() const { return saveImageRequest_.load(); }
    void RequestClientRefresh() { clientRefresh_.store(true); }
    bool ClientRefreshRequested() const { return clientRefresh_.load(); }
    void SetLastDetectionTime(std::time_t t) { lastDetection_.store(t); }
    std::time_t LastDetectionTime() const { return lastDetection_.load(); }
    // "Creation reference image", a drawn zone, a confirmed dialog.
    void RequestReferenceImage() { lastDetection_.store(0); }
    void SetCaptureRunning(bool on) { captureRunning_.store(on); }
    bool CaptureRunning() const { return captureRunning_.load(); }
    // Set when the images could not be allocated: frames are then ignored.
    bool ProcessingStopped() const { return processingStopped_.load(); }

    // Settings the capture thread reads per frame.
    int Noise() const { return noise_.load(); }
    int MaxDiff() const { return maxDiff_.load(); }
    int ReferenceSeconds() const { return referenceSeconds_.load(); }
    bool FollowDetection() const { return followDetection_.load(); }

private:
    void ThresholdsForFrameSize();
    void MirrorFrameSettings(const CameraSettings& s);
    void StoreSettings(const CameraSettings& s);
    void ReadConfiguration(bool takeShotCounter);
    void LoadZones(const CameraSettings& s);
    void CopyFrameInto(std::vector<std::uint8_t>& image);
    // The current frame as the measures see it, with "Noise" read once.
    MeasuredPicture Measured() const;
    int FastPass(const MeasuredPicture& picture, const ZoneCorners& zone, int step);
    int ReferencePass(const MeasuredPicture& picture, int slot, const ZoneCorners& zone, bool writeMask);
    void StoreFrameSize();
    // The frame to the stops that watch it live (before any step may return).
    void OfferLiveFrame(const DetectionRoad& road);
    // Steps 6 to 11 of a frame; true when the detection overlay was drawn.
    bool Detect(const DetectionRoad* road, DisplayHook* display, bool displayOn);
    // Step 11: the value of one detection, measured and numbered, not yet named.
    Detection NewDetection(const MeasuredPicture& picture, const ZoneSnapshot& snap, std::time_t now, int matched,
                           int detected, int sum, bool all);
    PictureRequest NewRequest(std::string path, std::time_t now);
    // "follow detection": the overlay drawn into a copy of the frame, which
    // becomes the current frame; false when nothing was drawn.
    bool DrawOverlay(const DetectionRoad* road, const Detection& detection);
    // What the window draws over the painted frame.
    DisplayMarks Marks(bool overlayDrawn) const;
    bool AllocateImages(int width, int height);
    void WriteZoneCorners(int count);

    TimeSource clock_;
    CameraPaths paths_;
    mutable std::mutex settingsMutex_;
    CameraSettings settings_;
    std::shared_ptr<const CameraSettings> published_;  // a copy of settings_, replaced on change
    Language language_;
    // The words of a detection's label in the camera's language, translated
    // at each load: a translation reads the language file, which the
    // capture thread must not do per detection.
    struct LabelWords {
        std::string in = "IN";
        std::string allz = "ALLZ";
        std::string somez = "SOMEZ";
    };
    std::shared_ptr<const LabelWords> labelWords_;  // guarded by settingsMutex_

    std::atomic<const DetectionRoad*> road_{nullptr};
    std::atomic<std::size_t> imageMemoryLimit_{0};

    std::atomic<int> width_{0}, height_{0}, format_{kFormatRgb24}, topDown_{kTopDown}, frameSize_{0};
    std::atomic<int> savedWidth_{0}, savedHeight_{0};
    std::vector<std::uint8_t> reference_, previous_, annotated_, mask_;
    int refusedWidth_ = -1, refusedHeight_ = -1;  // capture thread: a size whose images could not be had
    bool previousValid_ = false;                  // capture thread only
    std::span<const std::uint8_t> current_;
    std::vector<std::uint8_t> rgb_;       // the current frame converted to RGB, capture thread only
    std::vector<std::uint8_t> overlaid_;  // the frame with the detection overlay, capture thread only
    // Of a frame measured at a fraction: the whole picture's source for the
    // call, and the stamped copy of the whole picture (capture thread only).
    FullFrameSource* full_ = nullptr;
    std::vector<std::uint8_t> fullAnnotated_;
    std::atomic<int> detectionScale_{1};

    ZoneTable zones_;
    std::array<ZoneState, kZoneSlots> state_{};
    std::array<StandardMeasure, kZoneSlots> tallies_{};  // of the last reference pass, capture thread only

    std::atomic<int> maxJpg_{500}, noise_{50}, maxDiff_{500}, referenceSeconds_{30};
    std::atomic<bool> followDetection_{false};
    std::atomic<bool> detectionOn_{false}, displayOn_{true}, saveImageRequest_{false}, clientRefresh_{true};
    std::atomic<bool> maskWritingOff_{false}, captureRunning_{false}, processingStopped_{false};
    std::atomic<std::time_t> lastDetection_{0};
};

}  // namespace vorlix
