// What the program frame asks of the camera object. The camera object of the
// core room is adapted to this, so the frame (and its tests) do not depend on
// how capture, detection and the stream server are built.
#pragma once

#include <string>

#include "serveur/core/ZoneTable.h"

namespace vorlix {
class EventsWindow;
namespace capture {
class CaptureServer;
}
namespace audio {
class RecordingPlayer;
}
}  // namespace vorlix

namespace vorlix::app {

// The size and row order of the frames (0 x 0 before the first).
struct PictureGeometry {
    int width = 0;
    int height = 0;
    int topDown = 1;  // 2: row 0 is the bottom of the picture
};

class CameraPort {
public:
    virtual ~CameraPort() = default;

    // Capture with the configured device and mode; false when the device is unavailable.
    virtual bool StartCapture() = 0;
    // Stops capture and disconnects the device; may throw.
    virtual void StopCapture() = 0;
    virtual bool CaptureRunning() const = 0;
    // Capture runs but its source has sent no frame for a while.
    virtual bool CaptureSilent() const { return false; }

    virtual void ComputeZoneThresholds() = 0;
    virtual void SetDetection(bool on) = 0;
    virtual bool DetectionOn() const = 0;
    virtual bool AutoStartDetection() const = 0;

    virtual int ShotCounter() const = 0;
    virtual int MaxJpg() const = 0;
    virtual int Schedule() const = 0;

    virtual void RequestSaveImage() = 0;
    virtual void ResetLastDetectionTime() = 0;

    virtual bool ClientAccess() const = 0;
    virtual bool StreamRunning() const = 0;
    virtual bool StartStream() = 0;
    virtual int CountStreamClients() const = 0;

    // Empty while pictures are written, else why they are not (the status
    // line shows it).
    virtual std::string PictureTrouble() const { return {}; }
    // The picture area's size; an empty area switches the painting off.
    virtual void SetPictureArea(int width, int height) = 0;

    // Re-reads the settings as a confirmed configuration dialog does:
    // thresholds, stream server (restarted on a changed port or access).
    virtual void ReloadConfiguration() = 0;

    // The configuration dialog's save: the device's properties into
    // "Vorlix Format"; the zones ("NbSelection", "x0_%d", ...) with the
    // device and mode in use (also the zone selection's "end").
    virtual void SaveDeviceProperties() {}
    virtual void SaveZones() {}
    // The sound settings were saved: the next event's sound is played even
    // when it repeats the last one.
    virtual void ForgetLastSound() {}
    // The picture directory in use.
    virtual std::string PictureDir() const { return {}; }
    // The capture operations for the device dialogs (null: no capture system).
    virtual capture::CaptureServer* Capture() { return nullptr; }

    // The history view's player of sound recordings; null when the camera
    // has none.
    virtual audio::RecordingPlayer* Playback() { return nullptr; }
    // The zone table, read and replaced whole (the zone selection's edits).
    virtual PictureGeometry Geometry() const { return {}; }
    virtual ZoneSnapshot Zones() const { return {}; }
    virtual void SetZones(const ZoneSnapshot& /*zones*/) {}
    // A zone was drawn: viewers get a fresh picture and the reference image is taken again.
    virtual void ZoneDrawn() {}
    virtual std::string SettingsFile() const { return {}; }

    // The desktop's events list, shown every line of the events window while
    // attached (null detaches it; it must outlive the camera object while
    // attached). Its AddEntry is called off the GUI thread.
    virtual void AttachEventsList(EventsWindow* /*list*/) {}
};

}  // namespace vorlix::app
