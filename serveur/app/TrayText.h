// The tip text and icon of the notification-area icon, as one function so the
// headless server can report it and the desktop can show it.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vorlix::app {

using TranslateFn = std::function<std::string(std::string_view)>;

struct TrayState {
    bool cameraExists = false;
    int clients = 0;
    bool streamRunning = false;
    bool captureRunning = false;
    bool detectionOn = false;
    bool sourceSilent = false;   // capture runs, but no frame comes
    std::string pictureTrouble;  // why pictures are not written; empty when they are
};

struct TrayStatus {
    std::string text;
    int icon = 0;
};

inline constexpr int kIconClients = 136;
inline constexpr int kIconOff = 141;
inline constexpr int kIconWatching = 146;

TrayStatus MakeTrayStatus(const TrayState& state, int camera, const TranslateFn& translate);

}  // namespace vorlix::app
