// The command line of the Execute action: the application and its
// arguments with the event keywords replaced.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlix {

struct ExecuteValues {
    std::string picture;  // %n
    int zone = 0;         // %f (zone number from 1, 0 for ALLZ/SOMEZ)
    int centreX = 0;      // %a
    int centreY = 0;      // %o
    int x = 0, y = 0;     // %x %y
    int w = 0, h = 0;     // %w %h
    int width = 0;        // %W
    int height = 0;       // %H
    int camera = 0;       // %c
    int kind = 0;         // %e
    std::string label;    // %E
};

// Every "%" takes the next character: a keyword is replaced, any other
// character stands for itself ("%%" gives "%"). A "%" at the very end ends
// the text there.
std::string ExpandArguments(std::string_view arguments, const ExecuteValues& values);

// The arguments as the program receives them: the text is split into words
// first (blanks separate, double quotes group), then the keywords of each
// word are expanded inside it, so a value with blanks (a picture directory
// "my pics", a label "In zone 1") stays one argument.
std::vector<std::string> ExecuteArguments(std::string_view arguments, const ExecuteValues& values);

// "application" alone, or "application" + blank + each expanded argument,
// quoted where it must be so that starting the line gives exactly
// ExecuteArguments to the program.
std::string ExecuteCommandLine(std::string_view application, std::string_view arguments, const ExecuteValues& values);

}  // namespace vorlix
