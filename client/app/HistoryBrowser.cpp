#include "client/app/HistoryBrowser.h"

#include <algorithm>

namespace vorlix::client {

int NewestPicture(int indiceLast, int modulo)
{
    if (modulo < 1) {
        return 0;
    }
    const int rest = indiceLast % modulo;
    return rest < 0 ? rest + modulo : rest;
}

int HistoryBrowser::Position(int modulo) const
{
    return position_.value_or(modulo);
}

std::string HistoryBrowser::OnScroll(Scroll scroll, int thumb, int indiceLast, int modulo)
{
    long long position = Position(modulo);
    switch (scroll) {
        case Scroll::kLineLeft:
            position -= 1;
            break;
        case Scroll::kLineRight:
            position += 1;
            break;
        case Scroll::kPageLeft:
            position -= 10;
            break;
        case Scroll::kPageRight:
            position += 10;
            break;
        case Scroll::kThumb:
            position = thumb;
            break;
        case Scroll::kOther:
            break;
    }
    position = std::max<long long>(std::min<long long>(position, modulo), 1);
    position_ = static_cast<int>(position);
    if (modulo < 1) {
        return "0";
    }
    const long long picture = (modulo + NewestPicture(indiceLast, modulo) + position) % modulo;
    browsed_ = static_cast<int>(picture);
    return std::to_string(picture);
}

std::optional<std::string> HistoryBrowser::FileName(int indiceLast, int modulo) const
{
    if (indiceLast == 0) {
        return std::nullopt;
    }
    const int picture = browsed_.value_or(NewestPicture(indiceLast, modulo));
    return "vorlix_" + std::to_string(picture) + ".jpg";
}

}  // namespace vorlix::client
