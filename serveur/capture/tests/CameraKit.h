// What the capture tests that run a real camera object share: the camera
// adapter with a frame count and the detection actions on a road of their own.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "serveur/actions/VorlixActions.h"
#include "serveur/capture/CaptureServer.h"
#include "serveur/capture/WebCamCaptureCamera.h"
#include "serveur/core/WebCam.h"

namespace vorlix::capture::fakes {

// The camera adapter, counting the frames after the camera object has
// measured them and those `expected` refuses.
class CountedCamera final : public CaptureCamera, public FrameSink {
public:
    explicit CountedCamera(WebCam& cam, std::function<bool(const Frame&)> expected = {})
        : inner_(cam), expected_(std::move(expected))
    {
    }
    std::string IniFile() const override { return inner_.IniFile(); }
    int Fps() const override { return inner_.Fps(); }
    void ResizeBuffers(int width, int height) override { inner_.ResizeBuffers(width, height); }
    void ComputeZoneThresholds() override { inner_.ComputeZoneThresholds(); }
    FrameSink& Sink() override { return *this; }
    void RequestClientRefresh() override { inner_.RequestClientRefresh(); }
    void ProcessFrame(const Frame& frame) override
    {
        if (expected_ && !expected_(frame)) {
            ++wrong;
        }
        inner_.Sink().ProcessFrame(frame);
        ++frames;
    }
    std::atomic<int> frames{0};
    std::atomic<int> wrong{0};

private:
    WebCamCaptureCamera inner_;
    std::function<bool(const Frame&)> expected_;
};

// The camera's detection actions on a road of their own, as the server wires
// them; `extra` sits between the pictures and the events.
struct ActionsRoad {
    explicit ActionsRoad(WebCam& cam, DetectionConsumer* extra = nullptr) : cam_(cam)
    {
        actions.LoadVocabulary([&cam](const std::string& text) { return cam.Translate(text); });
        road.SetClassifier(&actions.Naming());
        road.SetPictureWriter(&actions.Pictures());
        road.Add(actions.Pictures());
        if (extra != nullptr) {
            road.Add(*extra);
        }
        road.Add(actions.Events());
        cam.SetRoad(&road);
    }
    ~ActionsRoad() { cam_.SetRoad(nullptr); }
    ActionsRoad(const ActionsRoad&) = delete;
    ActionsRoad& operator=(const ActionsRoad&) = delete;
    ActionsRoad(ActionsRoad&&) = delete;
    ActionsRoad& operator=(ActionsRoad&&) = delete;

    WebCam& cam_;
    VorlixActions actions;
    DetectionRoad road;
};

}  // namespace vorlix::capture::fakes
