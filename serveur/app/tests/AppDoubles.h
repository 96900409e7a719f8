// Test doubles of the program frame's services: a camera object that
// records what the frame asks of it, message boxes kept as a list, a fixed
// clock, and a harness holding a frame over them in a temporary directory.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/app/ServerApp.h"

namespace vorlix::app::testing {

struct TempDir {
    kestrel::test::TempDir dir{"vorlix_app"};
    std::filesystem::path path{dir.Path()};
};

// Stands in for the camera object: records what the frame asks of it.
struct CameraRecord {
    bool captureOk = true;
    bool streamStartOk = true;
    bool clientAccess = true;
    bool autoStart = true;
    bool stopThrows = false;
    int schedule = 737407;
    int shots = 0;
    int shotsOnStop = -1;  // >= 0: a detection under way counts this picture as the capture stops
    int maxJpg = 500;
    int clients = 0;
    // observed state
    bool capturing = false;
    bool detection = false;
    bool streaming = false;
    bool destroyed = false;
    int startCaptureCalls = 0;
    int thresholdCalls = 0;
    int saveRequests = 0;
    int referenceResets = 0;
    int reloads = 0;
    int builtFor = -1;
    std::string builtSettings;
    EventsWindow* eventsWindow = nullptr;
    int areaWidth = -1;
    int areaHeight = -1;
    // the zone table and the picture
    ZoneSnapshot zones;
    PictureGeometry geometry{320, 240, 1};
    int zoneDrawnCalls = 0;
    int zoneSaves = 0;
    std::string pictureDir;
    vorlix::audio::RecordingPlayer* player = nullptr;
};

class RecordingCamera : public CameraPort {
public:
    explicit RecordingCamera(CameraRecord& r) : r_(r) {}
    ~RecordingCamera() override
    {
        r_.streaming = false;
        r_.destroyed = true;
    }
    bool StartCapture() override
    {
        ++r_.startCaptureCalls;
        r_.capturing = r_.captureOk;
        return r_.captureOk;
    }
    void StopCapture() override
    {
        r_.capturing = false;
        if (r_.shotsOnStop >= 0) {
            r_.shots = r_.shotsOnStop;
        }
        if (r_.stopThrows) {
            throw std::runtime_error("device gone");
        }
    }
    bool CaptureRunning() const override { return r_.capturing; }
    void ComputeZoneThresholds() override { ++r_.thresholdCalls; }
    void SetDetection(bool on) override { r_.detection = on; }
    bool DetectionOn() const override { return r_.detection; }
    bool AutoStartDetection() const override { return r_.autoStart; }
    int ShotCounter() const override { return r_.shots; }
    int MaxJpg() const override { return r_.maxJpg; }
    int Schedule() const override { return r_.schedule; }
    void RequestSaveImage() override { ++r_.saveRequests; }
    void ResetLastDetectionTime() override { ++r_.referenceResets; }
    bool ClientAccess() const override { return r_.clientAccess; }
    bool StreamRunning() const override { return r_.streaming; }
    bool StartStream() override
    {
        r_.streaming = r_.streamStartOk;
        return r_.streamStartOk;
    }
    int CountStreamClients() const override { return r_.clients; }
    void ReloadConfiguration() override { ++r_.reloads; }
    void AttachEventsList(EventsWindow* list) override { r_.eventsWindow = list; }
    void SetPictureArea(int width, int height) override
    {
        r_.areaWidth = width;
        r_.areaHeight = height;
    }
    PictureGeometry Geometry() const override { return r_.geometry; }
    ZoneSnapshot Zones() const override { return r_.zones; }
    void SetZones(const ZoneSnapshot& zones) override { r_.zones = zones; }
    void ZoneDrawn() override { ++r_.zoneDrawnCalls; }
    void SaveZones() override { ++r_.zoneSaves; }
    std::string PictureDir() const override { return r_.pictureDir; }
    vorlix::audio::RecordingPlayer* Playback() override { return r_.player; }

private:
    CameraRecord& r_;
};

struct Box {
    std::string text;
    std::string caption;
};

class RecordingMessages : public MessageSink {
public:
    void Show(const std::string& text, const std::string& caption) override { boxes.push_back({text, caption}); }
    std::vector<Box> boxes;
};

class FixedClock : public Clock {
public:
    // wday 0 = Sunday .. 6 = Saturday
    FixedClock(int wday, int hour, int minute)
    {
        now_.tm_wday = wday;
        now_.tm_hour = hour;
        now_.tm_min = minute;
    }
    std::tm LocalNow() const override { return now_; }

private:
    std::tm now_{};
};

struct Harness {
    TempDir dir;
    CameraRecord cam;
    RecordingMessages messages;
    FixedClock clock;
    std::unique_ptr<ServerApp> app;

    explicit Harness(int camera = 0, const FixedClock& c = FixedClock(1, 10, 0), WindowPort* window = nullptr,
                     EventsWindow* events = nullptr, EditorStarter editor = {})
        : clock(c)
    {
        CommandLine line;
        line.camera = camera;
        AppServices s;
        s.makeCamera = [this](const ServerPaths& paths, int n) {
            cam.builtFor = n;
            cam.builtSettings = paths.settingsFile;
            return std::make_unique<RecordingCamera>(cam);
        };
        s.messages = &messages;
        s.clock = &clock;
        s.window = window;
        s.events = events;
        s.startEditor = std::move(editor);
        app = std::make_unique<ServerApp>(line, dir.path.string(), std::move(s));
    }
};

}  // namespace vorlix::app::testing
