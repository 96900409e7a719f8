// vorlix_vfw's capture layer behind the same operations as vorlix's: the
// /dev/video* nodes by index, the device's own format as its one mode, frames
// in that format (MJPG decoded to I420) taken by the grab and preview timers
// of GrabScheduler.
// This build has no picture properties ("Vorlix Format") and no frame rate.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serveur/capture/CaptureSystem.h"
#include "serveur/capture/v4l2/GrabScheduler.h"
#include "serveur/capture/v4l2/V4l2Capture.h"

namespace vorlix::capture {

struct V4l2Options {
    std::string deviceDir = "/dev";  // where the video<N> nodes are
    GrabSettings grab;
    GrabScheduler::WallClock wallClock;  // whole seconds; default time()
    int detectionScale = 1;              // "Detection scale": MJPG pictures measured at 1/scale
};

class V4l2CaptureSystem final : public CaptureSystem {
public:
    using DeviceFactory = std::function<std::unique_ptr<V4l2Device>()>;

    // `factory` makes the device used for capture and those used to read names.
    explicit V4l2CaptureSystem(V4l2Options options = {}, DeviceFactory factory = MakeSystemV4l2Device);
    ~V4l2CaptureSystem() override;
    V4l2CaptureSystem(const V4l2CaptureSystem&) = delete;
    V4l2CaptureSystem& operator=(const V4l2CaptureSystem&) = delete;

    int Initialise() override { return 0; }
    void RefreshDeviceList() override;
    int DeviceCount() override;
    std::string DeviceName(int index) override;
    int ConnectDevice(int index) override;
    void DisconnectDevice() override;
    [[nodiscard]] bool Connected() const override { return capture_.Connected(); }
    [[nodiscard]] int ConnectedIndex() const override { return Connected() ? connected_ : -1; }

    int ModeCount() override;
    int GetModeInfo(int index, ModeInfo& info) override;
    int SetMode(const ModeInfo& info) override;
    void SetFrameRate(int /*fps*/) override {}  // the build has no "fps"
    void GetImageSize(int& width, int& height) override;

    int GetProperty(int /*index*/, PropertyValue& /*value*/) override { return -1; }
    void SetProperty(int /*index*/, int /*value*/) override {}

    int StartCapture(FrameSink& sink) override;
    void StopCapture() override;
    [[nodiscard]] bool Capturing() const override { return capture_.Capturing(); }

    [[nodiscard]] bool HasDeviceSettings() const override { return false; }
    void SetWindowShown(bool shown) override;
    void SetClientRefresh(const std::function<void()>& refresh) override { refresh_ = refresh; }

    // The grab mode of the running capture (tests and the status line).
    [[nodiscard]] GrabScheduler::Mode Mode() const;
    [[nodiscard]] const V4l2Options& Options() const { return options_; }
    // JPEG pictures skipped and frames replaced before they were measured.
    [[nodiscard]] std::uint64_t RejectedPictures() const { return capture_.RejectedPictures(); }
    [[nodiscard]] std::uint64_t ReplacedFrames() const { return capture_.ReplacedFrames(); }

private:
    struct Node {
        std::string path;
        std::string name;
    };

    V4l2Options options_;
    DeviceFactory factory_;
    V4l2Capture capture_;
    std::vector<Node> nodes_;
    bool listed_ = false;
    int connected_ = -1;
    std::function<void()> refresh_;
    mutable std::mutex schedulerLock_;  // the main thread's window changes against start and stop
    std::unique_ptr<GrabScheduler> scheduler_;
    bool windowShown_ = false;
};

// The layer for a camera whose settings file is `iniFile` ("Frequency",
// "Refresh Picture" and "Detection scale" of section "Vorlix").
std::unique_ptr<CaptureSystem> MakeV4l2CaptureSystem(const std::string& iniFile);

}  // namespace vorlix::capture
