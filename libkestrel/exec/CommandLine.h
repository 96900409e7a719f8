// Splitting a command line into program arguments without a shell, by the
// quoting rules users of these command lines already write: blanks separate
// arguments, double quotes group, and backslashes only matter before a quote.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::exec {

// Rules, applied left to right:
//  - blanks (space, tab) outside quotes end an argument;
//  - a double quote toggles quoting and is not copied ("" gives an empty argument);
//  - 2n backslashes before a quote give n backslashes, and the quote toggles;
//  - 2n+1 backslashes before a quote give n backslashes and a literal quote;
//  - any other backslash is copied as it is.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The inverse for one argument: a text that SplitCommandLine turns back into
// exactly `argument`, quoted when it holds blanks or quotes.
std::string QuoteArgument(std::string_view argument);

}  // namespace kestrel::exec
