// Section "Vorlix Web" of the camera's settings file: whether the browser
// view runs, where it listens, its pace, its certificate and its viewer cap.
#pragma once

#include <string>
#include "serveur/core/SettingsSections.h"

namespace vorlix::web {

inline constexpr const char* kWebSection = section::kWeb;
inline constexpr int kDefaultWebPort = 8080;  // plus the camera number
inline constexpr int kDefaultFps = 5;
inline constexpr int kMaxFps = 30;
inline constexpr int kDefaultMaxViewers = 20;
inline constexpr int kMaxViewersLimit = 500;

struct WebSettings {
    bool management = false;              // "management"
    int port = kDefaultWebPort;           // "Port"
    int fps = kDefaultFps;                // "fps", 1..kMaxFps
    std::string certificate;              // "Certificate": PEM file, HTTPS with "Key"
    std::string key;                      // "Key"
    std::string bind;                     // "Bind": an address of this machine; empty for all
    int maxViewers = kDefaultMaxViewers;  // "Max viewers", live viewers at once

    [[nodiscard]] bool Https() const { return !certificate.empty() && !key.empty(); }
    bool operator==(const WebSettings&) const = default;
};

// Reads the section for camera `camera`; values out of range are brought
// back into it (a port outside 1..65535 falls back to the default).
WebSettings ReadWebSettings(const std::string& settingsFile, int camera);

}  // namespace vorlix::web
