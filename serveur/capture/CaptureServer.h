// The server's capture operations on top of a CaptureSystem: start of the
// capture system, StartCapture, CloseDevice, device and mode lists and the
// "Vorlix Format" properties.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serveur/capture/CaptureCamera.h"
#include "serveur/capture/CaptureSystem.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix::capture {

inline constexpr const char* kFormatSection = section::kFormat;

class CaptureServer {
public:
    explicit CaptureServer(CaptureCamera& camera);
    ~CaptureServer();
    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    // Takes the created system (null when none could be created); false leaves
    // the camera without capture.
    bool StartSystem(std::unique_ptr<CaptureSystem> system);

    // `device` empty: keep the connected device (the dialog connected it).
    bool StartCapture(std::optional<int> device, int mode);
    void CloseDevice();
    // Menu Open and the schedule: "VideoDevice" and "VideoFormat" where the
    // layer has those settings, else its first device in its own format.
    bool StartConfigured(int videoDevice, int videoFormat);

    // Dialog lists; each device name is traced.
    std::vector<std::string> DeviceList();
    std::vector<std::string> ModeList();
    // Choosing a device in the dialog connects it at once.
    bool SelectDevice(int device);

    void SaveProperties();
    void ApplyProperties();
    // Format button: the device's dialog, then the new size.
    void FormatButton();
    // The main window was shown or hidden (vorlix_vfw takes frames differently).
    void SetWindowShown(bool shown);

    // From a successful StartCapture to CloseDevice, and only while the layer
    // still delivers: a device that vanished reads as closed, so the
    // schedule's next check opens it again.
    [[nodiscard]] bool Running() const { return running_ && system_ && system_->Capturing(); }
    [[nodiscard]] bool Silent() const { return Running() && system_->Silent(); }
    [[nodiscard]] int DeviceIndex() const { return deviceIndex_; }
    [[nodiscard]] int ModeIndex() const { return modeIndex_; }
    [[nodiscard]] CaptureSystem* System() { return system_.get(); }

private:
    bool Connect(int device);
    // Sizes the camera for the mode's announced size before its first frame;
    // the camera itself follows a source that changes size mid-stream.
    void Resize(int width, int height);

    CaptureCamera& camera_;
    std::unique_ptr<CaptureSystem> system_;
    std::atomic<bool> running_{false};
    int deviceIndex_ = -1;
    int modeIndex_ = 0;
};

}  // namespace vorlix::capture
