// Shared helpers of the camera tests: a scratch directory, trace capture,
// synthetic frames and recording hooks.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "serveur/core/Hooks.h"
#include "serveur/core/WebCam.h"

namespace vorlix::test {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Read(const std::string& name) const;

private:
    std::string path_;
};

// Captures every trace line (level and formatted text) while alive.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    struct Line {
        int level;
        std::string text;
    };
    std::vector<Line> Take();
    std::vector<std::string> AtLevel(int level);
    // The messages at `level`, without the head "<date> 0x<tid> <error> <file>(<line>): ".
    std::vector<std::string> MessagesAt(int level);
};

// The message part of a formatted trace line.
std::string MessageOf(const std::string& line);

// A 24-bit frame of one grey level.
std::vector<std::uint8_t> FlatFrame(int width, int height, std::uint8_t value, int bpp = 3);
// Paints a block (x0, y0) .. (x1, y1) exclusive.
void PaintBlock(std::vector<std::uint8_t>& frame, int width, int bpp, int x0, int y0, int x1, int y1,
                std::uint8_t value);

struct RecordingHooks : ClassificationHook, EventActionsHook, DisplayHook, RecorderHook {
    std::vector<Detection> detections;
    int saves = 0, refreshes = 0, paints = 0, quiet = 0, stops = 0, overlays = 0;
    std::vector<int> tracked;
    std::uint32_t lastColour = 0;
    int lastPosition = -1, rangeHigh = -1;

    SingleZoneResult ClassifySingleZone(WebCam&, int zone) override
    {
        return {EventKind::IN, "IN" + std::to_string(zone + 1)};
    }
    void TrackMovement(WebCam&, int zone, int) override { tracked.push_back(zone); }
    void CheckDirections(WebCam&, int) override {}
    void OnSaveImage(WebCam&) override { ++saves; }
    void OnClientRefresh(WebCam&) override { ++refreshes; }
    void OnDetection(WebCam&, const Detection& d) override { detections.push_back(d); }
    void SetActivityRange(int, int high) override { rangeHigh = high; }
    void SetActivityPosition(int p) override { lastPosition = p; }
    void SetActivityColour(std::uint32_t c) override { lastColour = c; }
    void DrawDetectionOverlay(WebCam&) override { ++overlays; }
    void Paint(WebCam&, bool) override { ++paints; }
    int RecorderOnEvent(WebCam&, int, const std::string&) override { return 0; }
    int RecorderOnQuietFrame(WebCam&) override { return ++quiet; }
    int StopRecordingForced(WebCam&) override { return ++stops; }

    void Attach(WebCam& cam)
    {
        cam.SetClassificationHook(this);
        cam.SetEventActionsHook(this);
        cam.SetDisplayHook(this);
        cam.SetRecorderHook(this);
    }
};

}  // namespace vorlix::test
