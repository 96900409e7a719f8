// "vorlix --set-password [n]": the stream password of camera n, stored
// scrambled as "Authentification client" in its settings file, so a server
// without a desktop can have one. Read twice without echo from a terminal,
// or once (one line) from standard input when it is not a terminal.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace vorlix::app {

// The password typed or piped on `in`: one line without its line end, at
// most kMaxPasswordInput bytes read. On a terminal the echo is off while it
// is typed and it is asked twice; the two must agree. nullopt with `why` set
// when there is no password to take.
std::optional<std::string> ReadNewPassword(int in, std::FILE* prompts, std::string& why);

// Checks, scrambles and writes the password into `settingsFile`; an empty
// password removes the key's value (no password). False with `why` set.
bool StorePassword(const std::string& settingsFile, const std::string& password, std::string& why);

// The whole command: exit code 0 when written, 1 when not, 2 for a camera
// number beyond 4.
int RunSetPassword(int camera, const std::string& workDir, int in, std::FILE* out, std::FILE* err);

inline constexpr std::size_t kMaxPasswordInput = 4096;

}  // namespace vorlix::app
