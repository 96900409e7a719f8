#include "serveur/app/DisplayProbe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "libkestrel/framework/UniqueFd.h"

namespace vorlix::app {

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): read at start, before any thread
    return v != nullptr ? v : "";
}

// `abstract`: Linux's abstract socket name space (the X server listens there too).
bool ConnectUnix(const std::string& path, bool abstract)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.empty() || path.size() + offset >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path + offset, path.data(), path.size());
    const kestrel::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) {
        return false;
    }
    const auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    return connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), len) ==
           0;  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
}

bool X11Reachable(const std::string& display)
{
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::string host = display.substr(0, colon);
    if (!host.empty() && host != "unix") {
        // A remote X server is the user's word; Qt reports it if it fails.
        return true;
    }
    const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const std::string path = "/tmp/.X11-unix/X" + number;
    return ConnectUnix(path, false) || ConnectUnix(path, true);
}

}  // namespace

bool DesktopDisplayAvailable(std::string& why)
{
    if (!Env("QT_QPA_PLATFORM").empty()) {
        return true;
    }
    const std::string wayland = Env("WAYLAND_DISPLAY");
    if (!wayland.empty()) {
        const std::string path = wayland.front() == '/' ? wayland : Env("XDG_RUNTIME_DIR") + "/" + wayland;
        if (ConnectUnix(path, false)) {
            return true;
        }
    }
    const std::string x11 = Env("DISPLAY");
    if (!x11.empty() && X11Reachable(x11)) {
        return true;
    }
    if (x11.empty() && wayland.empty()) {
        why = "DISPLAY and WAYLAND_DISPLAY are not set";
    } else {
        why = "the display " + (x11.empty() ? wayland : x11) + " does not answer";
    }
    return false;
}

}  // namespace vorlix::app
