// Where the viewer's window goes: the saved rectangle read back, and the
// picture format sizes that the client area must end up with.
#pragma once

#include <optional>

#include "client/app/ViewerSettings.h"

namespace vorlix::client {

struct Placement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// x = left mod 1200, y = top mod 1200, width = |right - left| mod 2000,
// height = |bottom - top| mod 2000 (never negative). A width or height of 0
// keeps `fallback`'s.
Placement PlacementFromRect(const WindowRect& rect, const Placement& fallback);
WindowRect RectFromPlacement(const Placement& placement);

struct Size {
    int width = 0;
    int height = 0;
};

// A format size asks for a client area of exactly that size. The window is
// first given the size itself; the resize that follows compares the client
// area with the request, and the window grows by what is missing. Returns
// the growth when the client area falls short, none when it matches.
std::optional<Size> FormatGrowth(const Size& requested, const Size& client);

}  // namespace vorlix::client
