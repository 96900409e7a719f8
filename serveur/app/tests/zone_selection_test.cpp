// Zones drawn with the mouse, without a window: where a cursor falls on the
// picture at any area size, the drag, the click, the right click, the limit
// of 8, "selections clear" and "end", and the frames the display draws.
#include <gtest/gtest.h>

#include <vector>

#include "serveur/app/WindowDisplay.h"
#include "serveur/app/ZoneSelection.h"
#include "serveur/app/tests/AppDoubles.h"

using namespace vorlix;
using namespace vorlix::app;
using namespace vorlix::app::testing;

namespace {

// The first screen pixel of picture pixel p on an area of `area` pixels.
int Screen(int p, int area, int picture)
{
    return static_cast<int>((static_cast<long long>(p) * area + picture - 1) / picture);
}

PicturePoint Cursor(int x, int y, int areaW, int areaH, const PictureGeometry& g)
{
    return AreaToPicture(Screen(x, areaW, g.width), Screen(y, areaH, g.height), areaW, areaH, g, true);
}

TEST(AreaToPicture, StretchedAreasOfAnySizeGiveThePicturePixel)
{
    const PictureGeometry g{320, 240, kTopDown};
    for (const auto& [w, h] :
         std::vector<std::pair<int, int>>{{320, 240}, {640, 480}, {333, 177}, {160, 120}, {1919, 1077}}) {
        const PicturePoint a = Cursor(50, 40, w, h, g);
        const PicturePoint b = Cursor(10, 100, w, h, g);
        EXPECT_EQ(a.x, 50) << w << "x" << h;
        EXPECT_EQ(a.y, 40) << w << "x" << h;
        EXPECT_EQ(b.x, 10) << w << "x" << h;
        EXPECT_EQ(b.y, 100) << w << "x" << h;
    }
}

TEST(AreaToPicture, OwnSizeBottomUpAndOutsideTheArea)
{
    const PictureGeometry g{320, 240, kTopDown};
    const PicturePoint own = AreaToPicture(50, 40, 800, 600, g, false);
    EXPECT_EQ(own.x, 50);
    EXPECT_EQ(own.y, 40);
    // A drag that ends beyond the picture stays on it.
    const PicturePoint out = AreaToPicture(700, -20, 800, 600, g, false);
    EXPECT_EQ(out.x, 320);
    EXPECT_EQ(out.y, 0);
    // Row 0 of a bottom-up frame is the bottom of the picture.
    const PicturePoint up = AreaToPicture(50, 40, 320, 240, PictureGeometry{320, 240, kBottomUp}, true);
    EXPECT_EQ(up.x, 50);
    EXPECT_EQ(up.y, 199);
}

struct Rig {
    CameraRecord rec;
    RecordingCamera cam{rec};
    WindowDisplay display;
    ZoneSelection sel{cam, &display};
    void Drag(PicturePoint from, PicturePoint to)
    {
        sel.LeftDown(from);
        sel.Move({(from.x + to.x) / 2, (from.y + to.y) / 2});
        sel.Move(to);
        sel.LeftUp(to);
    }
};

TEST(ZoneSelection, ADragAddsTheNormalisedRectangle)
{
    Rig r;
    r.Drag({50, 40}, {10, 100});
    ASSERT_EQ(r.rec.zones.count, 1);
    EXPECT_EQ(r.rec.zones.slots[0], (ZoneCorners{10, 40, 50, 100, false}));
    EXPECT_EQ(r.rec.zoneDrawnCalls, 1);  // fresh picture and reference asked
    EXPECT_EQ(r.rec.thresholdCalls, 1);  // the new zone has its threshold at once
    EXPECT_FALSE(r.sel.Drawing());
}

TEST(ZoneSelection, AClickAddsNothing)
{
    Rig r;
    r.sel.LeftDown({30, 30});
    r.sel.LeftUp({30, 30});
    EXPECT_EQ(r.rec.zones.count, 0);
    EXPECT_EQ(r.sel.Start().x, 0);
    EXPECT_EQ(r.sel.EndPoint().x, 320);  // the selection became the whole picture
    // A right button alone draws nothing either.
    r.sel.RightDown({30, 30});
    r.sel.Move({90, 90});
    r.sel.RightUp({90, 90});
    EXPECT_EQ(r.rec.zones.count, 0);
}

TEST(ZoneSelection, ARightClickRemovesEveryZoneStrictlyAroundThePoint)
{
    Rig r;
    r.Drag({10, 10}, {100, 100});
    r.Drag({50, 50}, {200, 200});
    r.Drag({150, 10}, {300, 40});
    ASSERT_EQ(r.rec.zones.count, 3);
    r.sel.RightDown({60, 60});
    r.sel.RightUp({60, 60});
    ASSERT_EQ(r.rec.zones.count, 1);
    EXPECT_EQ(r.rec.zones.slots[0], (ZoneCorners{150, 10, 300, 40, false}));
    // On a border the point is not inside.
    r.sel.RightUp({150, 20});
    EXPECT_EQ(r.rec.zones.count, 1);
}

TEST(ZoneSelection, AtMostEightByDrawingTheNinthStaysInTheScratchSlot)
{
    Rig r;
    for (int i = 0; i < 9; ++i) {
        r.Drag({i * 10, 0}, {i * 10 + 5, 50});
    }
    EXPECT_EQ(r.rec.zones.count, kMaxDrawnZones);
    EXPECT_EQ(r.rec.zones.slots[7], (ZoneCorners{70, 0, 75, 50, false}));
    EXPECT_EQ(r.rec.zones.slots[8], (ZoneCorners{80, 0, 85, 50, false}));
}

TEST(ZoneSelection, ClearThenEndLeavesOneWholePictureZone)
{
    Rig r;
    r.Drag({50, 40}, {10, 100});
    r.sel.Clear();
    EXPECT_EQ(r.rec.zones.count, 0);
    r.sel.End();
    ASSERT_EQ(r.rec.zones.count, 1);
    EXPECT_EQ(r.rec.zones.slots[0], (ZoneCorners{0, 0, 320, 240, true}));
    EXPECT_EQ(r.rec.zones.slots[1], (ZoneCorners{0, 0, 320, 240, true}));  // scratch slot reset
    EXPECT_EQ(r.rec.thresholdCalls, 3);                                    // drawn, cleared, ended
    EXPECT_EQ(r.rec.zoneSaves, 1);
}

TEST(ZoneSelection, EndKeepsDrawnZonesAndResetsTheScratchSlot)
{
    Rig r;
    r.Drag({50, 40}, {10, 100});
    r.rec.zones.slots[1] = ZoneCorners{1, 2, 3, 4, false};
    r.sel.End();
    ASSERT_EQ(r.rec.zones.count, 1);
    EXPECT_EQ(r.rec.zones.slots[0], (ZoneCorners{10, 40, 50, 100, false}));
    EXPECT_EQ(r.rec.zones.slots[1], (ZoneCorners{0, 0, 320, 240, true}));
}

TEST(ZoneSelection, TheFirstDrawnZoneReplacesTheWholePicture)
{
    Rig r;
    r.rec.zones.count = 1;
    r.rec.zones.slots[0] = ZoneCorners{0, 0, 320, 240, true};
    r.Drag({50, 40}, {10, 100});
    ASSERT_EQ(r.rec.zones.count, 1);
    EXPECT_EQ(r.rec.zones.slots[0], (ZoneCorners{10, 40, 50, 100, false}));
    // A whole-picture zone among others is a zone like any other.
    ZoneSnapshot z;
    z.count = 2;
    z.slots[0] = ZoneCorners{0, 0, 320, 240, true};
    AddDrawnZone(z, {1, 1}, {5, 5});
    EXPECT_EQ(z.count, 3);
}

TEST(ZoneSelection, CornersBeyond4096BecomeZero)
{
    ZoneSnapshot z;
    AddDrawnZone(z, {5000, 10}, {20, 30});
    EXPECT_EQ(z.slots[0], (ZoneCorners{20, 10, 0, 30, false}));
}

// What the display draws over a 24-bit frame: numbered frames of the zones,
// the rectangle being drawn, never a frame for a whole-picture zone.
struct Shown {
    std::vector<std::uint8_t> bytes;
    std::shared_ptr<const DisplayPicture> picture;
};

Shown PaintGrey(WindowDisplay& display, const ZoneSnapshot& zones)
{
    Shown s;
    s.bytes.assign(static_cast<std::size_t>(64 * 48 * 3), 100);
    Frame f{s.bytes, 64, 48, kFormatRgb24, kTopDown};
    DisplayMarks marks;
    marks.zones = zones;
    display.Paint(f, marks);
    s.picture = display.Take().picture;
    return s;
}

std::uint8_t Red(const DisplayPicture& p, int x, int y)
{
    return p.rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x)) * 3];
}

TEST(ZoneDisplay, ZonesAreFramedTheWholePictureIsNot)
{
    WindowDisplay display;
    ZoneSnapshot whole;
    whole.count = 1;
    whole.slots[0] = ZoneCorners{0, 0, 64, 48, true};
    Shown plain = PaintGrey(display, whole);
    ASSERT_TRUE(plain.picture);
    EXPECT_EQ(plain.picture->rgb, plain.bytes);  // neither framed nor numbered

    ZoneSnapshot two;
    two.count = 2;
    two.slots[0] = ZoneCorners{2, 2, 30, 30, false};
    two.slots[1] = ZoneCorners{20, 10, 60, 40, false};
    Shown framed = PaintGrey(display, two);
    ASSERT_TRUE(framed.picture);
    EXPECT_EQ(Red(*framed.picture, 2, 15), 155);
    EXPECT_EQ(Red(*framed.picture, 60, 25), 155);
    EXPECT_EQ(Red(*framed.picture, 10, 15), 100);
    int white = 0;
    for (int y = 13; y < 19; ++y) {
        for (int x = 52; x < 58; ++x) {
            white += Red(*framed.picture, x, y) == 255 ? 1 : 0;  // "2" at (60 - 8, 10 + 3)
        }
    }
    EXPECT_GT(white, 5);
    EXPECT_EQ(framed.bytes, std::vector<std::uint8_t>(framed.bytes.size(), 100));  // the frame itself untouched
}

TEST(ZoneDisplay, TheRectangleBeingDrawnIsFramedUntilTheButtonGoesUp)
{
    Rig r;
    r.sel.LeftDown({40, 30});
    r.sel.Move({10, 5});
    Shown drawing = PaintGrey(r.display, {});
    ASSERT_TRUE(drawing.picture);
    EXPECT_EQ(Red(*drawing.picture, 10, 20), 155);  // left border x = 10
    EXPECT_EQ(Red(*drawing.picture, 25, 30), 155);  // bottom border y = 30
    r.sel.LeftUp({10, 5});
    Shown after = PaintGrey(r.display, {});
    EXPECT_EQ(after.picture->rgb, after.bytes);
}

}  // namespace
