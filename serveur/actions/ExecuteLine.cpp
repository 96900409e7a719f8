#include "serveur/actions/ExecuteLine.h"

#include "libkestrel/exec/CommandLine.h"

namespace vorlix {

std::string ExpandArguments(std::string_view arguments, const ExecuteValues& values)
{
    std::string out;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const char c = arguments[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 >= arguments.size()) {
            break;
        }
        const char key = arguments[++i];
        switch (key) {
            case 'n':
                out += values.picture;
                break;
            case 'f':
                out += std::to_string(values.zone);
                break;
            case 'a':
                out += std::to_string(values.centreX);
                break;
            case 'o':
                out += std::to_string(values.centreY);
                break;
            case 'x':
                out += std::to_string(values.x);
                break;
            case 'y':
                out += std::to_string(values.y);
                break;
            case 'w':
                out += std::to_string(values.w);
                break;
            case 'h':
                out += std::to_string(values.h);
                break;
            case 'H':
                out += std::to_string(values.height);
                break;
            case 'W':
                out += std::to_string(values.width);
                break;
            case 'c':
                out += std::to_string(values.camera);
                break;
            case 'e':
                out += std::to_string(values.kind);
                break;
            case 'E':
                out += values.label;
                break;
            default:
                out += key;
                break;
        }
    }
    return out;
}

std::vector<std::string> ExecuteArguments(std::string_view arguments, const ExecuteValues& values)
{
    std::vector<std::string> words;
    for (const std::string& word : kestrel::exec::SplitCommandLine(arguments)) {
        std::string expanded = ExpandArguments(word, values);
        // A lone "%" at the end gives no argument (the text ends there); an
        // empty word written as "" stays one.
        if (!expanded.empty() || word.empty()) {
            words.push_back(std::move(expanded));
        }
    }
    return words;
}

std::string ExecuteCommandLine(std::string_view application, std::string_view arguments, const ExecuteValues& values)
{
    std::string line(application);
    for (const std::string& word : ExecuteArguments(arguments, values)) {
        line += ' ';
        line += kestrel::exec::QuoteArgument(word);
    }
    return line;
}

}  // namespace vorlix
