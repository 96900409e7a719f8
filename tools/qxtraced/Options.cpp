#include "tools/qxtraced/Options.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "libwicket/GetPortEx.h"

namespace qxtraced {

const char* const kUsage =
    "usage: qxtraced [options]\n"
    "The trace server of Vorlix: prints the trace lines of the programs that\n"
    "connect to it, writes their log lines to rotating log files, and sends\n"
    "them level commands typed on its standard input (\"help\" lists them).\n"
    "\n"
    "  -p, --port PORT          port to listen on (default: the \"qxtraced\"\n"
    "                           service of /etc/services, else 5370; 0: any)\n"
    "  -b, --bind ADDRESS       address to listen on (default 127.0.0.1;\n"
    "                           0.0.0.0 or :: for every interface)\n"
    "  -d, --dir DIRECTORY      where the clients' log files go (default: the\n"
    "                           current directory); a client never writes\n"
    "                           outside it\n"
    "  -e, --enable LEVEL       switch the trace lines of LEVEL on in every\n"
    "                           client as it logs in (may be repeated)\n"
    "      --disable LEVEL      switch them off\n"
    "      --enable-log LEVEL   switch the log lines of LEVEL on\n"
    "      --disable-log LEVEL  switch them off\n"
    "  -l, --list               ask every client for its described levels\n"
    "  -m, --max-clients N      clients served at once (default 32)\n"
    "      --color WHEN         colour markup as colours: auto (on a terminal),\n"
    "                           always or never\n"
    "  -h, --help               this text\n"
    "      --version            the version\n"
    "\n"
    "Trace lines go to standard output as \"<client>: <line>\", notices to\n"
    "standard error. Ctrl-C or SIGTERM stops the server.\n";

namespace {

bool Number(const std::string& text, int low, int high, int& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

}  // namespace

std::optional<CommandLine> ParseCommandLine(std::span<const std::string> args, std::string& error)
{
    CommandLine line;
    line.server.port = wicket::GetPortEx("qxtraced");
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        int number = 0;
        const auto level = [&](const char* command) {
            if (!value(text)) {
                return false;
            }
            if (!Number(text, 0, 255, number)) {
                error = arg;
                error += ": \"" + text + "\" is no level (0 to 255)";
                return false;
            }
            line.server.loginCommands.emplace_back(command, std::to_string(number));
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else if (arg == "-p" || arg == "--port") {
            if (!value(text)) {
                return std::nullopt;
            }
            if (!Number(text, 0, 65535, line.server.port)) {
                error = "--port: \"" + text + "\" is no port (0 to 65535)";
                return std::nullopt;
            }
        } else if (arg == "-b" || arg == "--bind") {
            if (!value(line.server.bind)) {
                return std::nullopt;
            }
        } else if (arg == "-d" || arg == "--dir") {
            if (!value(line.server.logDirectory)) {
                return std::nullopt;
            }
        } else if (arg == "-e" || arg == "--enable") {
            if (!level("ENABLETRACE")) {
                return std::nullopt;
            }
        } else if (arg == "--disable") {
            if (!level("DISABLETRACE")) {
                return std::nullopt;
            }
        } else if (arg == "--enable-log") {
            if (!level("ENABLELOG")) {
                return std::nullopt;
            }
        } else if (arg == "--disable-log") {
            if (!level("DISABLELOG")) {
                return std::nullopt;
            }
        } else if (arg == "-l" || arg == "--list") {
            line.server.loginCommands.emplace_back("LISTLEVELDESC", "");
        } else if (arg == "-m" || arg == "--max-clients") {
            if (!value(text)) {
                return std::nullopt;
            }
            if (!Number(text, 1, 1000, number)) {
                error = "--max-clients: \"" + text + "\" is not 1 to 1000";
                return std::nullopt;
            }
            line.server.maxClients = static_cast<std::size_t>(number);
        } else if (arg == "--color" || arg == "--colour") {
            if (!value(text)) {
                return std::nullopt;
            }
            if (text == "auto") {
                line.colour = ColourChoice::kAuto;
            } else if (text == "always") {
                line.colour = ColourChoice::kAlways;
            } else if (text == "never") {
                line.colour = ColourChoice::kNever;
            } else {
                error = "--color: auto, always or never";
                return std::nullopt;
            }
        } else {
            error = "unknown option \"" + arg + "\"";
            return std::nullopt;
        }
    }
    return line;
}

}  // namespace qxtraced
