#include "serveur/app/ZoneSelection.h"

#include <algorithm>
#include <utility>

#include "libkestrel/trace/TraceLevels.h"
#include "serveur/app/WindowDisplay.h"

namespace vorlix::app {

namespace {

constexpr int kMaxCorner = 4096;

int Corner(int v)
{
    return v < 0 || v > kMaxCorner ? 0 : v;
}

ZoneCorners WholePicture(int width, int height)
{
    return ZoneCorners{0, 0, width, height, true};
}

}  // namespace

PicturePoint AreaToPicture(int x, int y, int areaWidth, int areaHeight, const PictureGeometry& picture, bool stretched)
{
    PicturePoint p{x, y};
    if (stretched && areaWidth > 0 && areaHeight > 0) {
        // 64-bit products: an area and a picture of 16384 pixels each still fit.
        p.x = static_cast<int>(static_cast<long long>(x) * picture.width / areaWidth);
        p.y = static_cast<int>(static_cast<long long>(y) * picture.height / areaHeight);
    }
    p.x = std::clamp(p.x, 0, std::max(picture.width, 0));
    p.y = std::clamp(p.y, 0, std::max(picture.height, 0));
    if (picture.topDown == 2 && picture.height > 0) {
        p.y = std::clamp(picture.height - 1 - p.y, 0, picture.height);
    }
    return p;
}

void AddDrawnZone(ZoneSnapshot& zones, PicturePoint start, PicturePoint end)
{
    ZoneCorners z;
    z.x0 = Corner(std::min(start.x, end.x));
    z.x1 = Corner(std::max(start.x, end.x));
    z.y0 = Corner(std::min(start.y, end.y));
    z.y1 = Corner(std::max(start.y, end.y));
    // The whole-picture zone stands for "no selection": the first zone drawn
    // takes its place instead of leaving it watching the whole picture unseen.
    if (zones.count == 1 && zones.slots[0].whole) {
        zones.count = 0;
    }
    const int slot = std::clamp(zones.count, 0, kMaxDrawnZones);
    zones.slots[static_cast<std::size_t>(slot)] = z;
    if (slot < kMaxDrawnZones) {
        zones.count = slot + 1;
    }
}

int RemoveZonesAt(ZoneSnapshot& zones, PicturePoint p)
{
    int kept = 0;
    const int count = std::clamp(zones.count, 0, kMaxZones);
    for (int i = 0; i < count; ++i) {
        const ZoneCorners z = zones.slots[static_cast<std::size_t>(i)];
        if (z.x0 < p.x && p.x < z.x1 && z.y0 < p.y && p.y < z.y1) {
            continue;
        }
        zones.slots[static_cast<std::size_t>(kept++)] = z;
    }
    const int removed = count - kept;
    zones.count = kept;
    return removed;
}

void FinishZones(ZoneSnapshot& zones, int width, int height)
{
    zones.count = std::clamp(zones.count, 0, kMaxZones);
    if (zones.count == 0) {
        zones.slots[0] = WholePicture(width, height);
        zones.count = 1;
    }
    zones.slots[static_cast<std::size_t>(zones.count)] = WholePicture(width, height);
}

ZoneSelection::ZoneSelection(CameraPort& camera, WindowDisplay* display) : camera_(camera), display_(display) {}

void ZoneSelection::ShowSelection()
{
    if (display_ == nullptr) {
        return;
    }
    if (drawing_) {
        display_->SetSelection(ZoneCorners{start_.x, start_.y, end_.x, end_.y, false});
    } else {
        display_->ClearSelection();
    }
}

void ZoneSelection::LeftDown(PicturePoint p)
{
    drawing_ = true;
    RightDown(p);
}

void ZoneSelection::RightDown(PicturePoint p)
{
    start_ = end_ = p;
    TRACE_TRACE("mouse(%d,%d)", p.x, p.y);
    ShowSelection();
}

void ZoneSelection::Move(PicturePoint p)
{
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_MOUSEMOVE");
    if (drawing_) {
        end_ = p;
        ShowSelection();
    }
}

void ZoneSelection::LeftUp(PicturePoint p)
{
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_LBUTTONUP");
    const bool wasDrawing = std::exchange(drawing_, false);
    ShowSelection();
    if (!wasDrawing) {
        return;
    }
    if (end_.x == start_.x && end_.y == start_.y) {
        // A click: no zone.
        const PictureGeometry g = camera_.Geometry();
        start_ = {0, 0};
        end_ = {g.width, g.height};
    } else {
        end_ = p;
        ZoneSnapshot zones = camera_.Zones();
        AddDrawnZone(zones, start_, end_);
        Apply(zones);
    }
    camera_.ZoneDrawn();
}

void ZoneSelection::RightUp(PicturePoint p)
{
    TRACE_LEVEL(kestrel::kLevelUser4, "WM_RBUTTONUP");
    ZoneSnapshot zones = camera_.Zones();
    if (RemoveZonesAt(zones, p) > 0) {
        Apply(zones);
    }
}

void ZoneSelection::Clear()
{
    ZoneSnapshot zones = camera_.Zones();
    zones.count = 0;
    Apply(zones);
}

void ZoneSelection::Apply(const ZoneSnapshot& zones)
{
    camera_.SetZones(zones);
    // A zone drawn meanwhile is measured against its own threshold at once,
    // not against what its slot held before (a stale or zero threshold would
    // fire detections, pictures and mails while the user draws).
    camera_.ComputeZoneThresholds();
}

void ZoneSelection::End()
{
    drawing_ = false;
    ShowSelection();
    const PictureGeometry g = camera_.Geometry();
    ZoneSnapshot zones = camera_.Zones();
    FinishZones(zones, g.width, g.height);
    camera_.SetZones(zones);
    camera_.ComputeZoneThresholds();
    // What was drawn is kept for the next start.
    camera_.SaveZones();
}

}  // namespace vorlix::app
