#include "serveur/app/SetPassword.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "libkestrel/profile/Profile.h"
#include "serveur/app/CommandLine.h"
#include "serveur/app/ServerPaths.h"
#include "serveur/core/SettingsSections.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::app {

namespace {

constexpr const char* kKey = "Authentification client";

// The terminal's settings while the echo is off, for a signal that ends the
// program meanwhile: the user's terminal must not stay silent.
int g_ttyFd = -1;
termios g_ttySaved{};

void RestoreTerminalAndDie(int sig)
{
    if (g_ttyFd >= 0) {
        tcsetattr(g_ttyFd, TCSANOW, &g_ttySaved);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd)
    {
        if (tcgetattr(fd, &saved_) != 0) {
            return;
        }
        g_ttySaved = saved_;
        g_ttyFd = fd;
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
            previous_[Index(sig)] = std::signal(sig, &RestoreTerminalAndDie);
        }
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (g_ttyFd < 0) {
            return;
        }
        tcsetattr(fd_, TCSAFLUSH, &saved_);
        g_ttyFd = -1;
        for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
            std::signal(sig, previous_[Index(sig)]);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    static std::size_t Index(int sig) { return static_cast<std::size_t>(sig) % 32; }

    int fd_;
    termios saved_{};
    bool active_ = false;
    void (*previous_[32])(int) = {};
};

// One line from `fd`, byte by byte so nothing after it is taken; nullopt at
// the end of input before any byte, or on a read error.
std::optional<std::string> ReadLine(int fd, bool& tooLong)
{
    std::string line;
    tooLong = false;
    bool any = false;
    for (std::size_t total = 0; total < kMaxPasswordInput; ++total) {
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) {
            --total;
            continue;
        }
        if (got <= 0) {
            if (got < 0 || !any) {
                return std::nullopt;
            }
            break;
        }
        any = true;
        if (c == '\n') {
            break;
        }
        line += c;
    }
    if (line.size() >= kMaxPasswordInput) {
        tooLong = true;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace

std::optional<std::string> ReadNewPassword(int in, std::FILE* prompts, std::string& why)
{
    const bool terminal = ::isatty(in) != 0;
    bool tooLong = false;
    if (!terminal) {
        std::optional<std::string> line = ReadLine(in, tooLong);
        if (!line) {
            why = "no password on standard input";
            return std::nullopt;
        }
        if (tooLong) {
            why = "the password is too long";
            return std::nullopt;
        }
        return line;
    }
    EchoOff quiet(in);
    std::fputs("New stream password: ", prompts);
    std::fflush(prompts);
    std::optional<std::string> first = ReadLine(in, tooLong);
    if (!first || tooLong) {
        why = first ? "the password is too long" : "no password typed";
        return std::nullopt;
    }
    std::fputs("The same again: ", prompts);
    std::fflush(prompts);
    const std::optional<std::string> second = ReadLine(in, tooLong);
    if (!second || *second != *first) {
        why = "the two passwords differ";
        return std::nullopt;
    }
    return first;
}

bool StorePassword(const std::string& settingsFile, const std::string& password, std::string& why)
{
    namespace prof = kestrel::profile;
    if (password.empty()) {
        if (!prof::WriteString(settingsFile, section::kMain, kKey, "")) {
            why = std::string("cannot write ") + settingsFile + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    if (password.size() > kMaxPlainLength) {
        why = "the password is longer than " + std::to_string(kMaxPlainLength) + " bytes";
        return false;
    }
    for (const char c : password) {
        // Only printable ASCII survives the scrambling (and the viewer's answer).
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) {
            why = "the password may hold printable ASCII characters only";
            return false;
        }
    }
    std::string scrambled;
    if (!ScramblePassword(password, kKey, scrambled)) {
        why = "the password cannot be scrambled";
        return false;
    }
    if (!prof::WriteString(settingsFile, section::kMain, kKey, scrambled)) {
        why = std::string("cannot write ") + settingsFile + ": " + std::strerror(errno);
        return false;
    }
    // Read back as the server will: a value the settings file cannot hold is no password.
    std::string back;
    const std::string stored = prof::GetString(settingsFile, section::kMain, kKey, "");
    if (!UnscramblePassword(stored, kKey, back) || back != password) {
        why = "the password does not read back from " + settingsFile;
        return false;
    }
    return true;
}

int RunSetPassword(int camera, const std::string& workDir, int in, std::FILE* out, std::FILE* err)
{
    if (camera > kMaxCamera) {
        std::fprintf(err, "vorlix: camera numbers run from 0 to %d, not %d\n", kMaxCamera, camera);
        return 2;
    }
    const std::string file = MakeServerPaths(workDir, camera).settingsFile;
    std::string why;
    const std::optional<std::string> password = ReadNewPassword(in, err, why);
    if (!password) {
        std::fprintf(err, "vorlix: %s; the password of camera %d is unchanged\n", why.c_str(), camera);
        return 1;
    }
    if (!StorePassword(file, *password, why)) {
        std::fprintf(err, "vorlix: %s; the password of camera %d is unchanged\n", why.c_str(), camera);
        return 1;
    }
    if (password->empty()) {
        std::fprintf(out, "Camera %d has no stream password now (%s).\n", camera, file.c_str());
    } else {
        std::fprintf(out, "Stream password of camera %d written to %s.\n", camera, file.c_str());
    }
    std::fprintf(out, "A running server takes it at its next reload (kill -HUP <its pid>).\n");
    return 0;
}

}  // namespace vorlix::app
