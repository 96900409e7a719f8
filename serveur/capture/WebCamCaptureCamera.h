// The camera object as the capture operations see it.
#pragma once

#include "serveur/capture/CaptureCamera.h"
#include "serveur/core/WebCam.h"

namespace vorlix::capture {

class WebCamCaptureCamera final : public CaptureCamera {
public:
    explicit WebCamCaptureCamera(WebCam& camera) : camera_(camera) {}
    std::string IniFile() const override { return camera_.SettingsFile(); }
    int Fps() const override { return camera_.SettingsCopy().fps; }
    void ResizeBuffers(int width, int height) override { camera_.ResizeBuffers(width, height); }
    void ComputeZoneThresholds() override { camera_.ComputeZoneThresholds(); }
    FrameSink& Sink() override { return camera_; }
    void RequestClientRefresh() override { camera_.RequestClientRefresh(); }

private:
    WebCam& camera_;
};

}  // namespace vorlix::capture
