// Where a client's log file may go: always inside the trace server's log
// directory, whatever name the client asks for.
#pragma once

#include <optional>
#include <string>

namespace qxtraced {

// The path under `root` for the requested name: "\" counts as "/", and
// empty, "." and ".." parts are dropped, so "../../etc/x" and "/etc/x" both
// become "<root>/etc/x". Nothing when no name is left or it holds control
// characters.
std::optional<std::string> ConfineLogName(const std::string& root, const std::string& requested);

// Creates the directories between `root` and the file of `path` (a path
// made by ConfineLogName), refusing to pass through a symbolic link. False
// with errno set.
bool MakeLogDirectories(const std::string& root, const std::string& path);

}  // namespace qxtraced
