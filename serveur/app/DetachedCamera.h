// The camera port used when the program is built without the camera object:
// it reads the settings the frame needs and reports the device as unavailable.
#pragma once

#include <string>

#include "serveur/app/CameraPort.h"
#include "serveur/app/ServerPaths.h"

namespace vorlix::app {

class DetachedCamera : public CameraPort {
public:
    explicit DetachedCamera(const ServerPaths& paths);

    bool StartCapture() override { return false; }
    void StopCapture() override {}
    bool CaptureRunning() const override { return false; }
    void ComputeZoneThresholds() override {}
    void SetDetection(bool on) override { detection_ = on; }
    bool DetectionOn() const override { return detection_; }
    bool AutoStartDetection() const override { return autoStart_; }
    int ShotCounter() const override { return shots_; }
    int MaxJpg() const override { return maxJpg_; }
    int Schedule() const override { return schedule_; }
    void RequestSaveImage() override {}
    void ResetLastDetectionTime() override {}
    bool ClientAccess() const override { return false; }
    bool StreamRunning() const override { return false; }
    bool StartStream() override { return false; }
    int CountStreamClients() const override { return 0; }
    void ReloadConfiguration() override;

private:
    std::string settings_;
    bool detection_ = false;
    bool autoStart_ = false;
    int shots_ = 0;
    int maxJpg_ = 500;
    int schedule_ = 737407;
};

}  // namespace vorlix::app
