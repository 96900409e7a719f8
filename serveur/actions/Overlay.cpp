#include "serveur/actions/Overlay.h"

#include <algorithm>
#include <array>
#include <string>

#include "serveur/actions/Font6x6.h"
#include "serveur/core/PixelFormat.h"

namespace vorlix {

namespace {

constexpr int kNumberTop = 3;    // rows below the zone's top edge
constexpr int kNumberRight = 8;  // columns left of the zone's right edge
constexpr int kMarkerSides = 20;

// Bytes of the pixel at (x, y) that carry its brightness: all of a packed
// RGB pixel (three of four for 32 bits), the luma byte of I420 and YUY2.
struct PixelBytes {
    std::size_t offset = 0;
    int count = 0;
};

bool IsRgb(int format)
{
    return format == kFormatRgb16 || format == kFormatRgb24 || format == kFormatRgb32;
}

PixelBytes Visible(const OverlayTarget& t, int x, int y)
{
    const int bpp = BytesPerPixel(t.format);
    const std::size_t pixel =
        static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) + static_cast<std::size_t>(x);
    PixelBytes p{pixel * static_cast<std::size_t>(bpp), 0};
    if (IsRgb(t.format)) {
        p.count = std::min(bpp, 3);
    } else if (t.format == kFourccI420 || t.format == kFourccYuy2) {
        p.count = 1;
    }
    if (p.offset + static_cast<std::size_t>(p.count) > t.bytes.size()) {
        p.count = 0;
    }
    return p;
}

bool Inside(const OverlayTarget& t, int x, int y)
{
    return x >= 0 && y >= 0 && x < t.width && y < t.height;
}

void InvertPixel(const OverlayTarget& t, int x, int y)
{
    const PixelBytes p = Visible(t, x, y);
    for (int c = 0; c < p.count; ++c) {
        t.bytes[p.offset + static_cast<std::size_t>(c)] ^= 0xFF;
    }
}

// A digit pixel: 255 in the first two bytes of an RGB pixel and the third
// when it has one; the luma byte of the YUV formats (the chroma beside it
// belongs to the next pixel too and stays).
void WhitePixel(const OverlayTarget& t, int x, int y)
{
    if (!Inside(t, x, y)) {
        return;
    }
    PixelBytes p = Visible(t, x, y);
    if (IsRgb(t.format)) {
        p.count = std::min(p.count, BytesPerPixel(t.format) >= 3 ? 3 : 2);
    }
    for (int c = 0; c < p.count; ++c) {
        t.bytes[p.offset + static_cast<std::size_t>(c)] = 0xFF;
    }
}

void DrawNumber(const OverlayTarget& t, int left, int top, int number)
{
    const std::string digits = std::to_string(number);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const std::uint8_t* glyph = Glyph6x6(digits[i]);
        if (glyph == nullptr) {
            continue;
        }
        const int x0 = left + static_cast<int>(i) * kGlyphSize;
        for (int row = 0; row < kGlyphSize; ++row) {
            // Upright on the screen: a bottom-up frame takes the glyph's rows reversed.
            const int y = t.topDown == kBottomUp ? top + kGlyphSize - 1 - row : top + row;
            for (int column = 0; column < kGlyphSize; ++column) {
                if ((glyph[row] >> (kGlyphSize - 1 - column) & 1U) != 0) {
                    WhitePixel(t, x0 + column, y);
                }
            }
        }
    }
}

bool Drawable(const OverlayTarget& t)
{
    return t.width > 0 && t.height > 0 && BytesPerPixel(t.format) != 0 &&
           t.bytes.size() >= RowBytes(t.format, t.width) * static_cast<std::size_t>(t.height);
}

}  // namespace

void DrawZoneFrame(const OverlayTarget& t, int x0, int y0, int x1, int y1, int number)
{
    if (!Drawable(t)) {
        return;
    }
    x0 = std::clamp(x0, 0, t.width - 1);
    x1 = std::clamp(x1, 0, t.width - 1);
    y0 = std::clamp(y0, 0, t.height - 1);
    y1 = std::clamp(y1, 0, t.height - 1);
    if (x0 == 0 && y0 == 0 && x1 == t.width - 1 && y1 == t.height - 1) {
        return;
    }
    if (x0 > x1) {
        std::swap(x0, x1);
    }
    if (y0 > y1) {
        std::swap(y0, y1);
    }
    // Each border pixel once: a corner inverted twice would vanish.
    for (int x = x0; x <= x1; ++x) {
        InvertPixel(t, x, y0);
        if (y1 != y0) {
            InvertPixel(t, x, y1);
        }
    }
    for (int y = y0 + 1; y < y1; ++y) {
        InvertPixel(t, x0, y);
        if (x1 != x0) {
            InvertPixel(t, x1, y);
        }
    }
    if (number != kNoNumber) {
        DrawNumber(t, x1 - kNumberRight, y0 + kNumberTop, number + 1);
    }
}

void InvertChangedSamples(const OverlayTarget& t, std::span<const std::uint8_t> mask)
{
    if (!Drawable(t)) {
        return;
    }
    const std::size_t samples =
        std::min({RowBytes(t.format, t.width) * static_cast<std::size_t>(t.height), mask.size(), t.bytes.size()});
    for (std::size_t i = 0; i < samples; ++i) {
        if (mask[i] != 0) {
            t.bytes[i] ^= 0xFF;
        }
    }
}

void DrawCentreMarker(const OverlayTarget& t, const ZoneMark& mark)
{
    if (!Drawable(t) || mark.measure == 0) {
        return;
    }
    const int bpp = BytesPerPixel(t.format);
    const int side = (std::abs(mark.measure) / 100) % kMarkerSides;
    for (int y = std::max(mark.centreY, 0); y < std::min(mark.centreY + side, t.height); ++y) {
        for (int x = std::max(mark.centreX, 0); x < std::min(mark.centreX + side, t.width); ++x) {
            const PixelBytes p = Visible(t, x, y);
            if (p.count == 0) {
                continue;
            }
            if (bpp < 3) {
                t.bytes[p.offset] = 0xFF;
            } else {
                InvertPixel(t, x, y);
            }
        }
    }
    // The smallest f with f * f above the result, at most the width, halved.
    int f = 0;
    while (f < t.width && static_cast<long long>(f) * f <= mark.result) {
        ++f;
    }
    f /= 2;
    DrawZoneFrame(t, mark.centreX - f, mark.centreY - f, mark.centreX + f, mark.centreY + f);
}

void DrawZoneFrames(const OverlayTarget& t, const ZoneSnapshot& zones)
{
    const int count = std::clamp(zones.count, 0, kMaxZones);
    for (int i = 0; i < count; ++i) {
        const ZoneCorners& z = zones.slots[static_cast<std::size_t>(i)];
        DrawZoneFrame(t, z.x0, z.y0, z.x1, z.y1, i);
    }
}

void DrawChanges(const OverlayTarget& t, std::span<const std::uint8_t> mask, std::span<const ZoneMark> marks)
{
    InvertChangedSamples(t, mask);
    for (const ZoneMark& mark : marks) {
        DrawCentreMarker(t, mark);
    }
}

void DetectionOverlayPainter::DrawDetectionOverlay(const Detection& d, std::span<std::uint8_t> frame,
                                                   std::span<const std::uint8_t> mask)
{
    const OverlayTarget target{frame, d.width, d.height, d.format, d.topDown};
    ZoneSnapshot zones;
    zones.count = std::clamp(d.zoneCount, 0, kMaxZones);
    std::array<ZoneMark, kMaxZones> marks{};
    for (int j = 0; j < zones.count; ++j) {
        const ZoneReading& r = d.Zone(j);
        zones.slots[static_cast<std::size_t>(j)] = r.zone;
        // After the reference pass a zone's measure is its reference result.
        marks[static_cast<std::size_t>(j)] = ZoneMark{r.measure, r.centreX, r.centreY, r.measure};
    }
    if (d.matched == 1 && d.zone >= 0 && d.zone < zones.count) {
        const ZoneReading& e = d.enlarged;
        marks[static_cast<std::size_t>(d.zone)] = ZoneMark{e.measure, e.centreX, e.centreY, e.measure};
    }
    DrawZoneFrames(target, zones);
    DrawChanges(target, mask, std::span<const ZoneMark>(marks).first(static_cast<std::size_t>(zones.count)));
}

}  // namespace vorlix
