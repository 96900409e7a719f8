#include "libkestrel/exec/CommandLine.h"

namespace kestrel::exec {

namespace {
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}
}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;  // an argument has begun (even an empty quoted one)
    bool quoted = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (IsBlank(c) && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            std::size_t count = 0;
            while (i < line.size() && line[i] == '\\') {
                ++count;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                current.append(count / 2, '\\');
                if (count % 2 == 1) {
                    current.push_back('"');
                    ++i;
                }
                // an even run leaves the quote for the next round, which toggles
            } else {
                current.append(count, '\\');
            }
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            ++i;
            continue;
        }
        current.push_back(c);
        ++i;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

std::string QuoteArgument(std::string_view argument)
{
    const bool needsQuotes = argument.empty() || argument.find_first_of(" \t\"") != std::string_view::npos;
    if (!needsQuotes) {
        return std::string(argument);
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    // backslashes before the closing quote must be doubled
    out.append(backslashes * 2, '\\');
    out.push_back('"');
    return out;
}

}  // namespace kestrel::exec
