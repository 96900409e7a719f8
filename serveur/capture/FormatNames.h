// Names of the capture formats by number, as the mode list shows them.
#pragma once

#include <string_view>

namespace vorlix::capture {

inline constexpr int kFormatNameCount = 43;

// "Unknown" for a number outside 0..42.
std::string_view FormatName(int number);

// The number of a name of the table, or 0 ("Unknown").
int FormatNumber(std::string_view name);

}  // namespace vorlix::capture
