// The range of every numeric setting, in one table: key, default, lowest and
// highest value, and how a value outside is mended. A value that is not a
// number, or lies outside its range, is replaced when the settings are
// loaded and traced at warning level with the key, the value read and the
// value used, so a typing error never silently changes what the camera does.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vorlix {

enum class Repair {
    kDefault,       // outside the range: the default
    kClamp,         // outside the range: the nearest bound
    kDefaultBelow,  // below the lowest: the default; above the highest: the highest
};

struct IntSetting {
    const char* section;
    const char* key;
    int fallback;  // default when absent, not a number or (kDefault) out of range
    int min;
    int max;
    Repair repair;
};

// Every numeric setting the camera object reads.
std::span<const IntSetting> IntSettings();
// The entry of `key` in `section` (compared without case); throws
// std::out_of_range for a key that has no entry.
const IntSetting& IntSettingOf(std::string_view section, std::string_view key);

struct CheckedInt {
    int value = 0;
    bool mended = false;  // the text was not a number or lay outside the range
    std::string why;      // "not a number" or "outside MIN..MAX"
};

// The value for the text `raw` of a key (nullopt: absent, which gives
// `fallback` without a word). A number is optional blanks, an optional sign
// and digits, then nothing but blanks.
CheckedInt CheckInt(const IntSetting& setting, const std::optional<std::string>& raw, int fallback);

// Reads the key from `file` and mends it (traced at warning level). `fallback`
// replaces the table's default where the default depends on the camera.
int ReadRangedInt(const std::string& file, std::string_view section, std::string_view key,
                  std::optional<int> fallback = std::nullopt);

// The default "Port Web client" of camera n: 6666 + n, so side-by-side
// cameras each have a port of their own.
int DefaultStreamPort(int camera);

}  // namespace vorlix
