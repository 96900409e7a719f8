#include "serveur/core/SettingRanges.h"

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "libkestrel/profile/Profile.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/core/ScheduleWord.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix {

namespace {

using section::kAudio;
using section::kExecute;
using section::kFtp;
using section::kMain;
using section::kSound;
constexpr int kDay = 86400;

// clang-format off
constexpr IntSetting kTable[] = {
    {kMain, "Detection scale",      1,     1,       4,       Repair::kDefault},
    {kMain, "Port Web client",      6666,  1,       65535,   Repair::kDefault},
    {kMain, "Client access",        1,     INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "Frequency Transfert",  100,   0,       60000,   Repair::kDefaultBelow},
    {kMain, "Refresh Picture",      60,    1,       kDay,    Repair::kClamp},
    {kMain, "Current shots",        0,     0,       999999999, Repair::kDefault},
    {kMain, "Max jpg",              500,   1,       1000000, Repair::kDefaultBelow},
    // Out of 0..100 the picture writer's own rule applies (taken as 100).
    {kMain, "Quality jpg",          30,    INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "window top",           251,   INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "window left",          388,   INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "window right",         739,   INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "window bottom",        570,   INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "Display",              1,     0,       1,       Repair::kDefault},
    {kMain, "Trace level",          0,     0,       255,     Repair::kClamp},
    {kMain, "VideoDevice",          0,     0,       1023,    Repair::kDefault},
    {kMain, "VideoFormat",          0,     0,       65535,   Repair::kDefault},
    {kMain, "fps",                  0,     0,       1000,    Repair::kDefault},
    {kMain, "Frequency",            90,    1,       60000,   Repair::kDefault},
    {kMain, "ResizeVideo",          0,     0,       1,       Repair::kDefault},
    {kMain, "Schedule",             kDefaultSchedule, 0, INT_MAX, Repair::kDefault},
    {kMain, "Auto Start Detection", 0,     INT_MIN, INT_MAX, Repair::kClamp},
    {kMain, "Noise",                50,    0,       255,     Repair::kClamp},
    {kMain, "MaxDiff",              500,   0,       INT_MAX, Repair::kDefaultBelow},
    {kMain, "Reference Image",      30,    0,       kDay,    Repair::kDefaultBelow},
    {kMain, "follow detection",     0,     0,       1,       Repair::kDefault},
    {kMain, "no events",            30,    0,       kDay,    Repair::kDefaultBelow},
    // Slot 9 is the scratch slot: at most 9 zones.
    {kMain, "NbSelection",          1,     0,       9,       Repair::kDefaultBelow},
    {kMain, "width",                0,     0,       16384,   Repair::kDefault},
    {kMain, "height",               0,     0,       16384,   Repair::kDefault},
    {kSound, "Replay Sound",        15,    0,       kDay,    Repair::kDefaultBelow},
    {kAudio, "management",          0,     INT_MIN, INT_MAX, Repair::kClamp},
    {kAudio, "device in",           0,     0,       1023,    Repair::kDefault},
    {kAudio, "device out",          0,     0,       1023,    Repair::kDefault},
    {kAudio, "min time",            0,     0,       kDay,    Repair::kDefaultBelow},
    {kAudio, "max time",            0,     0,       kDay,    Repair::kDefaultBelow},
    {kAudio, "no activity time",    0,     0,       kDay,    Repair::kDefaultBelow},
    {kExecute, "management",        0,     INT_MIN, INT_MAX, Repair::kClamp},
    // Programs of the Execute action running at once; an event that finds
    // them all busy starts nothing.
    {kExecute, "max children",      4,     1,       64,      Repair::kClamp},
    {kFtp, "Port",                  21,    1,       65535,   Repair::kDefault},
    {kFtp, "Proxy Port",            80,    1,       65535,   Repair::kDefault},
};
// clang-format on

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// nullopt when `text` is not a number; saturated at the bounds of long long.
std::optional<long long> ParseNumber(std::string_view text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    std::size_t i = begin;
    if (i < end && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    if (i == end) {
        return std::nullopt;
    }
    for (std::size_t k = i; k < end; ++k) {
        if (text[k] < '0' || text[k] > '9') {
            return std::nullopt;
        }
    }
    const std::string digits(text.substr(begin, end - begin));
    errno = 0;
    return std::strtoll(digits.c_str(), nullptr, 10);  // ERANGE saturates, which is what we want
}

}  // namespace

std::span<const IntSetting> IntSettings()
{
    return kTable;
}

const IntSetting& IntSettingOf(std::string_view section, std::string_view key)
{
    const auto same = [](std::string_view a, const char* b) {
        return a.size() == std::char_traits<char>::length(b) && strncasecmp(a.data(), b, a.size()) == 0;
    };
    for (const IntSetting& s : kTable) {
        if (same(section, s.section) && same(key, s.key)) {
            return s;
        }
    }
    throw std::out_of_range("no range for setting \"" + std::string(key) + "\"");
}

CheckedInt CheckInt(const IntSetting& setting, const std::optional<std::string>& raw, int fallback)
{
    CheckedInt out;
    out.value = fallback;
    if (!raw) {
        return out;
    }
    const std::optional<long long> number = ParseNumber(*raw);
    if (!number) {
        out.mended = true;
        out.why = "not a number";
        return out;
    }
    if (*number >= setting.min && *number <= setting.max) {
        out.value = static_cast<int>(*number);
        return out;
    }
    out.mended = true;
    out.why = "outside " + std::to_string(setting.min) + ".." + std::to_string(setting.max);
    const bool below = *number < setting.min;
    switch (setting.repair) {
        case Repair::kDefault:
            out.value = fallback;
            break;
        case Repair::kClamp:
            out.value = below ? setting.min : setting.max;
            break;
        case Repair::kDefaultBelow:
            out.value = below ? fallback : setting.max;
            break;
    }
    return out;
}

int ReadRangedInt(const std::string& file, std::string_view section, std::string_view key, std::optional<int> fallback)
{
    const IntSetting& setting = IntSettingOf(section, key);
    const std::optional<std::string> raw = kestrel::profile::Read(file, section, key);
    const CheckedInt checked = CheckInt(setting, raw, fallback.value_or(setting.fallback));
    if (checked.mended) {
        TRACE_WARN("Setting \"%s\" of [%s] = \"%s\" is %s: %d used", setting.key, setting.section, raw->c_str(),
                   checked.why.c_str(), checked.value);
    }
    return checked.value;
}

int DefaultStreamPort(int camera)
{
    return IntSettingOf(kMain, "Port Web client").fallback + std::max(camera, 0);
}

}  // namespace vorlix
