// The seams through which the camera object reaches what other rooms build:
// classification, event actions, display, audio recorder and stream server.
// Every hook is optional; an absent hook does nothing.
#pragma once

#include <cstdint>
#include <string>

namespace vorlix {

class WebCam;

enum class EventKind : int {
    ALLZ = 1,
    NEAR = 2,
    IN = 3,
    AHEAD = 4,
    SOMEZ = 5,
    LEFT_TO_RIGHT = 10,
    RIGHT_TO_LEFT = 11,
    BOTTOM_TO_TOP = 12,
    TOP_TO_BOTTOM = 13,
};

struct SingleZoneResult {
    EventKind kind = EventKind::IN;
    std::string label;
};

// One detection as ProcessFrame hands it to the event actions.
struct Detection {
    int zone = 0;  // detected zone slot (last matching zone)
    EventKind kind = EventKind::IN;
    std::uint32_t zoneMask = 0;  // bit j set for each matching zone of a SOMEZ
    std::string label;           // e.g. "ALLZ (812) ", "SOMEZ_1_3 (300) "
    int sum = 0;                 // sum of the zone measures
};

// Movement tracking and event classification, run on the capture thread.
class ClassificationHook {
public:
    virtual ~ClassificationHook() = default;
    virtual SingleZoneResult ClassifySingleZone(WebCam& cam, int zone) = 0;
    virtual void TrackMovement(WebCam& cam, int zone, int source) = 0;
    virtual void CheckDirections(WebCam& cam, int zone) = 0;
};

// The detection actions: pictures, events, sounds, Execute.
class EventActionsHook {
public:
    virtual ~EventActionsHook() = default;
    // The "Save image" request: the annotated image holds the frame.
    virtual void OnSaveImage(WebCam& cam) = 0;
    // The client refresh: stamp the annotated image, write "last.jpg", notify.
    virtual void OnClientRefresh(WebCam& cam) = 0;
    // A detection: picture, shot counter, stream, FTP, mail, FireEvent, audio.
    virtual void OnDetection(WebCam& cam, const Detection& detection) = 0;
};

// The main window's picture and activity bar.
class DisplayHook {
public:
    virtual ~DisplayHook() = default;
    virtual void SetActivityRange(int low, int high) = 0;
    virtual void SetActivityPosition(int position) = 0;
    virtual void SetActivityColour(std::uint32_t colour) = 0;
    // Draws the detection overlay onto the current frame's copy.
    virtual void DrawDetectionOverlay(WebCam& cam) = 0;
    // Zone frames, selection, overlay, then the picture.
    virtual void Paint(WebCam& cam, bool overlayAlreadyDrawn) = 0;
};

// The audio recorder calls of the capture thread.
class RecorderHook {
public:
    virtual ~RecorderHook() = default;
    virtual int RecorderOnEvent(WebCam& cam, int rate, const std::string& wavPath) = 0;
    virtual int RecorderOnQuietFrame(WebCam& cam) = 0;
    virtual int StopRecordingForced(WebCam& cam) = 0;
};

// The stream server's entry point for pictures meant for viewers.
class ImageNotifier {
public:
    virtual ~ImageNotifier() = default;
    // A null path asks the server to go on with what it has.
    virtual void NotifyNewImage(const char* path) = 0;
};

}  // namespace vorlix
