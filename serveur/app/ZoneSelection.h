// Zones drawn with the mouse while the zone selection dialog is open: a left
// drag adds a zone, a click adds none, a right click removes every zone that
// strictly contains the point, "selections clear" empties the table and
// "end" leaves at least one zone. Plain rules over the zone table, and the
// mouse state that applies them through the camera; no window code.
#pragma once

#include "serveur/app/CameraPort.h"
#include "serveur/core/ZoneTable.h"

namespace vorlix::app {

class WindowDisplay;

// Zones drawn with the mouse go into slots 0 .. 7; a ninth lands in the
// scratch slot only.
inline constexpr int kMaxDrawnZones = 8;

struct PicturePoint {
    int x = 0;
    int y = 0;
};

// Where a cursor at (x, y) of a picture area of areaWidth x areaHeight falls
// on the picture: scaled when the picture is stretched to the area, one to
// one otherwise, rows turned over for a frame whose row 0 is the bottom,
// and held inside 0 .. width, 0 .. height (so a drag that ends outside the
// area still gives a zone on the picture).
PicturePoint AreaToPicture(int x, int y, int areaWidth, int areaHeight, const PictureGeometry& picture, bool stretched);

// The drawn rectangle (any corner order) stored in slot `count`: normalised,
// a coordinate below 0 or above 4096 taken as 0. The count grows while it is
// below 8 (else the rectangle stays in the scratch slot). A table holding
// only the whole-picture zone ("no selection") gets the rectangle instead.
void AddDrawnZone(ZoneSnapshot& zones, PicturePoint start, PicturePoint end);
// Removes every zone with x0 < x < x1 and y0 < y < y1, keeping the order of
// the others; the number removed.
int RemoveZonesAt(ZoneSnapshot& zones, PicturePoint point);
// "end": with no zone, one zone of the whole picture; the slot after the last
// zone back to the whole picture.
void FinishZones(ZoneSnapshot& zones, int width, int height);

class ZoneSelection {
public:
    // `display` frames the rectangle being drawn (may be null).
    ZoneSelection(CameraPort& camera, WindowDisplay* display);

    // Mouse buttons and moves, in picture pixels.
    void LeftDown(PicturePoint p);
    void RightDown(PicturePoint p);
    void Move(PicturePoint p);
    void LeftUp(PicturePoint p);
    void RightUp(PicturePoint p);

    // Every edit computes the thresholds again.
    // "selections clear": no zone.
    void Clear();
    // "end": at least one zone, the scratch slot reset, thresholds computed,
    // the zones written to the settings file.
    void End();

    bool Drawing() const { return drawing_; }
    PicturePoint Start() const { return start_; }
    PicturePoint EndPoint() const { return end_; }

private:
    void ShowSelection();
    // The edited table to the camera, its thresholds computed.
    void Apply(const ZoneSnapshot& zones);

    CameraPort& camera_;
    WindowDisplay* display_;
    PicturePoint start_;
    PicturePoint end_;
    bool drawing_ = false;
};

}  // namespace vorlix::app
