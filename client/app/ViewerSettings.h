// The viewer's INI file: "Vorlix.ini" in the start-up directory, section
// "cl". Servers are "Host %d" / "Port %d" / "Password %d", numbered from 1
// without gaps (the first empty host ends the list); passwords are kept
// scrambled with their key name as key text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/effects/Effects.h"

namespace vorlix::client {

inline constexpr std::string_view kViewerSection = "cl";
inline constexpr std::string_view kDefaultPortText = "6666";
inline constexpr std::size_t kMaxHostLength = 255;
inline constexpr std::size_t kMaxPortTextLength = 31;

// The window rectangle in screen coordinates.
struct WindowRect {
    int top = 78;
    int left = 105;
    int right = 458;
    int bottom = 392;
};

// What "Save current context" keeps: the window, the stretch mode and the effects.
struct ViewerContext {
    WindowRect rect;
    bool stretch = true;
    EffectSettings effects;
};

class ViewerSettings {
public:
    explicit ViewerSettings(std::string iniPath) : path_(std::move(iniPath)) {}
    // "<dir>/Vorlix.ini"
    static std::string PathIn(const std::string& dir) { return dir + "/Vorlix.ini"; }

    [[nodiscard]] const std::string& Path() const { return path_; }
    // "LANG": the language code of the user texts (at most 31 characters).
    [[nodiscard]] std::string Language() const;

    // The values of "Host 1", "Host 2", ... up to the first empty one.
    [[nodiscard]] std::vector<std::string> Hosts() const;
    [[nodiscard]] std::string Host(int number) const;
    // "Port %d", "6666" when absent.
    [[nodiscard]] std::string PortText(int number) const;
    // The first number whose host equals `host` exactly, or is empty.
    [[nodiscard]] int FindHostIndex(std::string_view host) const;
    bool StoreHost(int number, std::string_view host, std::string_view portText) const;

    // The saved password of `number`, unscrambled; none when the stored
    // value is shorter than 3 bytes (no password saved).
    [[nodiscard]] std::optional<std::string> Password(int number) const;
    // Saves `plain` scrambled; false when it is too long or cannot be written.
    bool StorePassword(int number, std::string_view plain) const;

    [[nodiscard]] ViewerContext LoadContext() const;
    bool SaveContext(const ViewerContext& context) const;

private:
    std::string path_;
};

}  // namespace vorlix::client
