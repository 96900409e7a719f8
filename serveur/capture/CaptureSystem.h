// The operations the camera server needs from a video capture layer.
#pragma once

#include <functional>
#include <string>

#include "serveur/core/Frame.h"

namespace vorlix::capture {

inline constexpr int kPropertyCount = 10;

struct ModeInfo {
    int width = 0;
    int height = 0;
    int fps = 0;
    int format = 0;  // index into the format-name table
};

struct PropertyValue {
    int value = 0;
    int minimum = 0;
    int maximum = 0;
};

// Every status is 0 or positive on success, negative on failure.
class CaptureSystem {
public:
    virtual ~CaptureSystem() = default;

    virtual int Initialise() = 0;
    virtual void RefreshDeviceList() = 0;
    virtual int DeviceCount() = 0;  // negative when the list could not be read
    virtual std::string DeviceName(int index) = 0;
    virtual int ConnectDevice(int index) = 0;
    virtual void DisconnectDevice() = 0;
    [[nodiscard]] virtual bool Connected() const = 0;
    [[nodiscard]] virtual int ConnectedIndex() const = 0;  // -1 when none

    virtual int ModeCount() = 0;  // negative without a connected device
    virtual int GetModeInfo(int index, ModeInfo& info) = 0;
    virtual int SetMode(const ModeInfo& info) = 0;
    virtual void SetFrameRate(int fps) = 0;
    virtual void GetImageSize(int& width, int& height) = 0;

    static std::string PropertyName(int index);
    virtual int GetProperty(int index, PropertyValue& value) = 0;  // 0 = success
    virtual void SetProperty(int index, int value) = 0;

    // Frames go to `sink` on the layer's own thread, one at a time.
    virtual int StartCapture(FrameSink& sink) = 0;
    virtual void StopCapture() = 0;
    [[nodiscard]] virtual bool Capturing() const = 0;
    // Capturing, but no frame has come for a while (a silent network source).
    [[nodiscard]] virtual bool Silent() const { return false; }

    // The device's own format settings; negative when the device has none.
    virtual int FormatDialog() { return -1; }

    // False for a layer without the "VideoDevice"/"VideoFormat"/"fps" and
    // "Vorlix Format" settings (vorlix_vfw): it opens its first device in the
    // device's own format.
    [[nodiscard]] virtual bool HasDeviceSettings() const { return true; }

    // For layers that pick frames by the main window's state (vorlix_vfw):
    // whether the window is shown, and how to ask the camera for a client refresh.
    virtual void SetWindowShown(bool /*shown*/) {}
    virtual void SetClientRefresh(const std::function<void()>& /*refresh*/) {}
};

}  // namespace vorlix::capture
