// How a stream text (QXTrace) becomes lines: control bytes turn into
// readable markers, eight accented Latin-1 letters fold to their plain
// letter, and a line feed among text ends the line while one between raw
// bytes is shown as data.
#pragma once

#include <string>

namespace sorrel {

// Appends the escaped bytes of `text` from `position` to `line` until a line
// ends (true, `position` just past the line feed) or the text ends (false,
// `position` at the terminating zero).
bool AppendEscapedLine(const char* text, int& position, std::string& line);

}  // namespace sorrel
