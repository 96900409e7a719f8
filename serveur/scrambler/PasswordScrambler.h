// The reversible scrambling of short texts shared by the server and the
// viewer: the password answer on the wire (key text = the challenge's decimal
// text) and the passwords kept in INI files (key text = the INI key name).
// Scrambled texts are raw bytes 0-255, three longer than the plain text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorlix {

// The seed word used everywhere in both programs.
inline constexpr std::string_view kScrambleSeed = "KWZ";
// Appended to the plain text before scrambling; its last two letters mark a
// successful unscrambling.
inline constexpr std::string_view kScrambleTrailer = "ZQJ";
// The work text (plain text + trailer) must fit in 255 bytes.
inline constexpr std::size_t kMaxScrambledLength = 255;
inline constexpr std::size_t kMaxPlainLength = kMaxScrambledLength - kScrambleTrailer.size();

// Scrambles `plain` into `out`. Returns false and leaves `out` unchanged when
// `plain` is longer than kMaxPlainLength.
bool ScramblePassword(std::string_view plain, std::string_view key, std::string& out,
                      std::string_view seed = kScrambleSeed);

// Unscrambles `scrambled` into `out` (trailer dropped). Returns true when the
// trailer checks out. Fewer than three bytes fail and leave `out` unchanged.
// Plain bytes below 32 are not restored.
bool UnscramblePassword(std::string_view scrambled, std::string_view key, std::string& out,
                        std::string_view seed = kScrambleSeed);

}  // namespace vorlix
