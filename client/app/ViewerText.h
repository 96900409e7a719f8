// The viewer's user texts: its language, translated formats filled safely,
// and the scrolling status ticker.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace vorlix::client {

// The language of the user texts: `setting` ("LANG" of the INI file) when
// set, else "fr" when the process locale is French and "en" otherwise. For
// "fr", "en", "es" and "de" the thread's locale follows when the system has it.
std::string ViewerLanguage(const std::string& setting);

// Fills a (translated) format: each %s, %d or %x takes the next of `args`,
// already written as text; %% is a percent sign. Nothing else is
// interpreted, so a translation cannot read past the arguments.
std::string FillText(std::string_view format, std::initializer_list<std::string> args);
// `value` in lower-case hexadecimal, as %x prints it.
std::string Hex(unsigned int value);

// The status ticker: the text from a moving offset, then nine whole copies,
// parts separated by "...". Each call moves the offset by one character; it
// goes back to 0 after passing the text's end.
class Ticker {
public:
    std::string Next(const std::string& text);
    [[nodiscard]] std::size_t Offset() const { return offset_; }

private:
    std::string last_;
    std::size_t offset_ = 0;
};

}  // namespace vorlix::client
