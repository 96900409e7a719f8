// What the capture operations need from the camera object.
#pragma once

#include <string>

#include "serveur/core/Frame.h"

namespace vorlix::capture {

class CaptureCamera {
public:
    virtual ~CaptureCamera() = default;

    [[nodiscard]] virtual std::string IniFile() const = 0;  // holds "Vorlix Format"
    [[nodiscard]] virtual int Fps() const = 0;
    // Sizes the images and the zone table for frames of width x height.
    virtual void ResizeBuffers(int width, int height) = 0;
    virtual void ComputeZoneThresholds() = 0;
    // Receives the frames (ProcessFrame).
    virtual FrameSink& Sink() = 0;
    // The next frame also refreshes the viewers' picture (vorlix_vfw's timers ask for it).
    virtual void RequestClientRefresh() {}
};

}  // namespace vorlix::capture
