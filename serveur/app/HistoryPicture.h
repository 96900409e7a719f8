// One picture of the history as the history view shows it: read from its
// file as RGB (a grey picture widened to three equal channels), with its
// comment, its size and its file time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorlix::app {

// A picture larger than this many pixels is not decoded (a hostile or
// broken file cannot make the view allocate gigabytes).
inline constexpr long long kHistoryMaxPixels = 64LL * 1024 * 1024;

struct HistoryPicture {
    bool found = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width x height x 3, top row first
    std::string comment;            // the first comment marker, empty without one
    std::string time;               // file time as asctime() writes it, without its line end
};

HistoryPicture ReadHistoryPicture(const std::string& path);

// The view's texts for a picture: "<comment>    Dimensions : <w> x <h>", and
// the path with "  (not found)" when the file could not be read.
std::string HistoryDescription(const HistoryPicture& picture);
std::string HistoryPathText(const std::string& path, const HistoryPicture& picture);

}  // namespace vorlix::app
