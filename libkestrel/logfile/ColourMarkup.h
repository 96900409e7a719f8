// The colour markup of trace lines ("<COLOR n>", "<HCOLOR n>" ... "</COLOR>")
// for outputs that show lines to a person: terminal colours on a terminal,
// nothing elsewhere, never the raw tags.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

// `terminal` true: the tags become ANSI colours (HCOLOR bold), and the
// colour is reset at the end of the line even when the closing tag is
// missing; false: the tags are left out. Other text is unchanged.
std::string RenderColourMarkup(std::string_view line, bool terminal);

}  // namespace kestrel
