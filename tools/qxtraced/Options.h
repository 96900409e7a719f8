// The trace server's command line.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "tools/qxtraced/TraceServer.h"

namespace qxtraced {

enum class ColourChoice { kAuto, kAlways, kNever };

struct CommandLine {
    ServerOptions server;
    ColourChoice colour = ColourChoice::kAuto;
    bool help = false;
    bool version = false;
};

// The options, or nothing with `error` set.
std::optional<CommandLine> ParseCommandLine(std::span<const std::string> args, std::string& error);

extern const char* const kUsage;

}  // namespace qxtraced
