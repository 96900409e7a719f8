// Capture on GStreamer: devices of the device monitor, the network camera of
// "VideoURI", the pipeline of VORLIX_VIDEO_SOURCE and the built-in test camera.
// Frames reach the sink top row first. MJPEG cameras (HTTP, USB in MJPG) are
// decoded here to I420 on the streaming thread and measured on a thread of
// their own, newest frame first (JpegFeed), so both cores work; other
// cameras and network sources reach the sink from the streaming thread in
// their decoder's own I420 or YUY2 (in place when its rows are tight),
// pipelines and the test camera as 24-bit RGB.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "serveur/capture/CaptureSystem.h"
#include "serveur/capture/gstreamer/GstKeptBuffers.h"
#include "serveur/capture/gstreamer/GstModes.h"
#include "serveur/capture/gstreamer/GstPipeline.h"
#include "serveur/capture/mjpeg/JpegFeed.h"

typedef struct _GstElement GstElement;
typedef struct _GstDevice GstDevice;
typedef struct _GstVideoFrame GstVideoFrame;
typedef struct _GstSample GstSample;

namespace vorlix::capture {

inline constexpr const char* kTestPatternName = "Test pattern";
inline constexpr const char* kSourceVariable = "VORLIX_VIDEO_SOURCE";
// "gstreamer": MJPEG cameras decoded by GStreamer's jpegdec instead (for comparison).
inline constexpr const char* kJpegDecoderVariable = "VORLIX_JPEG_DECODER";

class GstCaptureSystem : public CaptureSystem {
public:
    // `uri`: the "VideoURI" setting (empty when none); `retry`: the pause
    // before a lost network source is opened again; `silence`: how long a
    // started source may deliver no frame before it is taken as lost;
    // `decoding`: who decodes MJPEG cameras.
    explicit GstCaptureSystem(std::string uri = {}, std::chrono::milliseconds retry = std::chrono::seconds(10),
                              std::chrono::milliseconds silence = std::chrono::seconds(10),
                              JpegDecoding decoding = JpegDecoding::Own);
    ~GstCaptureSystem() override;
    GstCaptureSystem(const GstCaptureSystem&) = delete;
    GstCaptureSystem& operator=(const GstCaptureSystem&) = delete;

    int Initialise() override;
    void RefreshDeviceList() override;
    int DeviceCount() override;
    std::string DeviceName(int index) override;
    int ConnectDevice(int index) override;
    void DisconnectDevice() override;
    [[nodiscard]] bool Connected() const override { return connected_ >= 0; }
    [[nodiscard]] int ConnectedIndex() const override { return connected_; }

    int ModeCount() override;
    int GetModeInfo(int index, ModeInfo& info) override;
    int SetMode(const ModeInfo& info) override;
    void SetFrameRate(int fps) override;
    void GetImageSize(int& width, int& height) override;

    int GetProperty(int index, PropertyValue& value) override;
    void SetProperty(int index, int value) override;

    int StartCapture(FrameSink& sink) override;
    void StopCapture() override;
    [[nodiscard]] bool Capturing() const override { return capturing_; }
    [[nodiscard]] bool Silent() const override { return silent_; }

    // Connections made so far (tests check that a re-selection does not reconnect).
    [[nodiscard]] int ConnectionCount() const { return connections_; }
    // JPEG pictures refused (cut short, corrupt) and frames replaced by a
    // newer one before they were measured, since the layer was made.
    [[nodiscard]] std::uint64_t RejectedPictures() const { return feed_.Rejected(); }
    [[nodiscard]] std::uint64_t ReplacedFrames() const { return feed_.Replaced(); }
    // MJPEG cameras' frames decoded at 1/scale for detection (1, 2 or 4),
    // the whole picture decoded only when one is written. Takes effect at
    // the next StartCapture.
    void SetDetectionScale(int scale) { detectionScale_ = scale == 2 || scale == 4 ? scale : 1; }

private:
    struct Device {
        std::string name;
        GstSourceKind kind = GstSourceKind::TestPattern;
        std::string source;  // pipeline text or URI
        GstDevice* device = nullptr;
        std::vector<GstMode> modes;
    };

    void ClearDevices();
    bool BuildPipeline();
    void DestroyPipeline();
    void BusLoop();
    void Deliver(GstElement* appsink);
    void DeliverVideo(GstSample* sample);
    void DeliverJpeg(GstSample* sample);
    std::span<const std::uint8_t> TightFrame(const GstVideoFrame& frame, int format);
    static int OnNewSample(GstElement* appsink, void* self);
    bool Reconnectable() const;
    bool SetAddress();
    static std::int64_t NowNs();

    std::string uri_;
    std::chrono::milliseconds retry_;
    std::chrono::milliseconds silence_;
    JpegDecoding decoding_;
    std::vector<Device> devices_;
    int connected_ = -1;
    int connections_ = 0;
    GstMode mode_;
    int fps_ = 0;
    GstElement* pipeline_ = nullptr;
    GstElement* balance_ = nullptr;  // element with the picture controls
    FrameSink* sink_ = nullptr;
    std::atomic<bool> capturing_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> silent_{false};
    std::atomic<std::int64_t> lastFrameNs_{0};  // steady clock of the last frame delivered
    std::thread bus_;
    std::mutex wait_;
    std::condition_variable wake_;
    std::vector<std::uint8_t> rows_;  // tight rows of a padded frame, used by the streaming thread only
    GstKeptBuffers kept_;             // the buffers of scaled frames; outlives the feed's runs
    JpegFeed feed_{&kept_};           // started by StartCapture while the pipeline is not playing
    int detectionScale_ = 1;          // read by the streaming thread while capturing, set while not
};

// The layer for a camera whose settings file is `iniFile` ("VideoURI" of "Vorlix").
std::unique_ptr<CaptureSystem> MakeGstCaptureSystem(const std::string& iniFile);

}  // namespace vorlix::capture
