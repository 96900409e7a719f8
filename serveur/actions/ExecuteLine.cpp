#include "serveur/actions/ExecuteLine.h"

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

std::string ExecuteCommandLine(std::string_view application, std::string_view arguments, const ExecuteValues& values)
{
    std::string line(application);
    if (!arguments.empty()) {
        line += ' ';
        line += ExpandArguments(arguments, values);
    }
    return line;
}

}  // namespace vorlix
