// What the browser view says, apart from any connection: the page, the
// events list as JSON, the parts of the live stream and the one form of a
// picture address that leads to the disk.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlix::web {

// A detection as the view lists it.
struct WebEvent {
    std::time_t time = 0;
    std::string label;
    int picture = 0;  // number in the rotating set
};

// The camera as the page shows it at one moment.
struct PageState {
    int camera = 0;
    bool capturing = false;
    bool detectionOn = false;
    int webViewers = 0;
    int streamViewers = 0;
    bool passwordSet = false;
    int fps = 0;
    std::vector<WebEvent> events;  // newest first
};

using Words = std::function<std::string(std::string_view)>;

inline constexpr std::string_view kMjpegBoundary = "vorlixframe";
inline constexpr std::size_t kThumbnails = 12;

// Every text the pages show, translated once through `translate` (on the
// thread that may call it); the result looks them up from any thread, and
// gives any other text back as it is.
Words FixedWords(const Words& translate);

// The page `/`: every text through `words`, every value escaped.
std::string RenderPage(const PageState& state, const Words& words);
// `/events.json`: {"camera":..,"state":{..},"events":[{"time":..,"when":..,"label":..,"picture":..}]}
std::string EventsJson(const PageState& state, const Words& words);

// The number n of "/pictures/<n>.jpg" when n is written in plain decimal
// digits without a leading zero and 0 <= n < maxJpg; nothing else.
std::optional<int> PictureNumberOf(std::string_view url, int maxJpg);

// The head of one part of the live stream, before `length` JPEG bytes.
std::string MjpegPartHead(std::size_t length);

std::string HtmlEscape(std::string_view text);
std::string JsonEscape(std::string_view text);
// Local time "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText(std::time_t time);

}  // namespace vorlix::web
