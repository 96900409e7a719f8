#include "client/app/WindowPlacement.h"

#include <cstdlib>

namespace vorlix::client {

namespace {

int PositiveMod(long long value, int modulus)
{
    const long long rest = value % modulus;
    return static_cast<int>(rest < 0 ? rest + modulus : rest);
}

}  // namespace

Placement PlacementFromRect(const WindowRect& rect, const Placement& fallback)
{
    Placement placement;
    placement.x = PositiveMod(rect.left, 1200);
    placement.y = PositiveMod(rect.top, 1200);
    placement.width = PositiveMod(std::llabs(static_cast<long long>(rect.right) - rect.left), 2000);
    placement.height = PositiveMod(std::llabs(static_cast<long long>(rect.bottom) - rect.top), 2000);
    if (placement.width == 0 || placement.height == 0) {
        placement.width = fallback.width;
        placement.height = fallback.height;
    }
    return placement;
}

WindowRect RectFromPlacement(const Placement& placement)
{
    WindowRect rect;
    rect.left = placement.x;
    rect.top = placement.y;
    rect.right = placement.x + placement.width;
    rect.bottom = placement.y + placement.height;
    return rect;
}

std::optional<Size> FormatGrowth(const Size& requested, const Size& client)
{
    const int dx = requested.width - client.width;
    const int dy = requested.height - client.height;
    if (dx < 1 && dy < 1) {
        return std::nullopt;
    }
    return Size{dx > 0 ? dx : 0, dy > 0 ? dy : 0};
}

}  // namespace vorlix::client
