// The history window's browsing rules. The scroll bar runs from 1 (the
// oldest picture of the ring) to Modulo (the newest); a scroll picks picture
// (Modulo + IndiceLast mod Modulo + position) mod Modulo and asks the server
// for it. Until the first scroll the window shows the newest picture.
#pragma once

#include <optional>
#include <string>

namespace vorlix::client {

class HistoryBrowser {
public:
    enum class Scroll { kLineLeft, kLineRight, kPageLeft, kPageRight, kThumb, kOther };

    // Moves the position (clamped to 1..Modulo) and returns the argument of
    // the history request to send: the picture number in decimal ("0" when
    // Modulo is 0). Every scroll sends one, the end of a scroll too.
    std::string OnScroll(Scroll scroll, int thumb, int indiceLast, int modulo);

    // The scroll bar position to show: Modulo until the first scroll.
    [[nodiscard]] int Position(int modulo) const;
    // The picture being browsed; none while showing the newest.
    [[nodiscard]] std::optional<int> Browsed() const { return browsed_; }
    // "vorlix_<n>.jpg" of the picture shown: the browsed one, else the newest
    // (IndiceLast mod Modulo, 0 when Modulo is 0); none while IndiceLast is 0.
    [[nodiscard]] std::optional<std::string> FileName(int indiceLast, int modulo) const;

private:
    std::optional<int> position_;
    std::optional<int> browsed_;
};

// IndiceLast mod Modulo, never negative; 0 when Modulo is below 1.
int NewestPicture(int indiceLast, int modulo);

}  // namespace vorlix::client
