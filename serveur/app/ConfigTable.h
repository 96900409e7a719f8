// The configuration dialog's settings, as one table: every control of every
// page with its label, the key it shows and saves, and how. The pages are
// built from this table and read and write through it, so no page has read
// or write code of its own.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "serveur/core/SettingsSections.h"

namespace vorlix::app {

// The pages in tab order.
enum class ConfigPage : int {
    kVideo,
    kJpeg,
    kClient,
    kDetection,
    kSounds,
    kRecord,
    kPlanner,
    kFtp,
    kMail,
    kExecute,
    kTrace,
    kUpdate,
};
inline constexpr int kConfigPageCount = 12;

struct PageInfo {
    const char* label;  // tab label, before translation
    ConfigPage page;
    int resource;
};
std::span<const PageInfo> ConfigPages();

enum class FieldKind {
    kText,      // written as typed
    kNumber,    // written as typed; the camera takes its decimal value
    kCheck,     // "1" or "0"
    kPassword,  // shown as the placeholder when one is stored, written scrambled
    kDay,       // one day bit of "Schedule"
    kOutside,   // bit 7 of "Schedule"
    kBegin,     // begin time of "Schedule", "hh:mm"
    kEnd,       // end time of "Schedule", "hh:mm"
    kChoice,    // a number chosen from a short list (`choices`)
};

// Which build shows a field.
enum class Build { kBoth, kGstOnly, kV4l2Only };

struct ConfigField {
    ConfigPage page;
    int control;
    const char* label;  // before translation; empty for a control without one
    const char* section;
    const char* key;
    FieldKind kind;
    const char* fallback = "";     // shown when the key is absent (numbers: see ShownDefault)
    const char* oldKey = nullptr;  // Sounds: key of section "Vorlix" shown when the new one is absent
    int bit = 0;                   // kDay: bit of "Schedule"
    Build build = Build::kBoth;
    const char* choices = nullptr;  // kChoice: labels separated by "|", value = position
};

inline constexpr const char* kPasswordPlaceholder = "#######";
inline constexpr std::size_t kMaxFieldText = 255;
inline constexpr const char* kDownloadPage = "https://vorlix.example.org/download";

std::span<const ConfigField> ConfigFields();
// The index of the field of `key` in `section` (first of a kind for
// "Schedule"); throws std::out_of_range when there is none.
std::size_t FieldIndex(std::string_view section, std::string_view key, FieldKind kind);

// What the pages show that is not in the settings file.
struct FormContext {
    int camera = 0;
    std::string workDir;     // plain paths of "VideoURI" are relative to it
    std::string pictureDir;  // the picture directory in use
    bool gstBuild = true;    // vorlix (GStreamer) or vorlix_vfw (V4L2)
};

// One text per field of ConfigFields(), in the same order: "1"/"0" for boxes,
// the placeholder or "" for passwords, "hh:mm" for times.
struct ConfigForm {
    std::vector<std::string> values;
    FormContext context;

    [[nodiscard]] const std::string& Value(std::string_view section, std::string_view key,
                                           FieldKind kind = FieldKind::kText) const;
    void Set(std::string_view section, std::string_view key, std::string value, FieldKind kind = FieldKind::kText);
};

// Whether `field` is on its page in this build.
bool FieldShown(const ConfigField& field, bool gstBuild);

// What the pages show on opening, read from `settingsFile`.
ConfigForm ReadConfigForm(const std::string& settingsFile, const FormContext& context);

// "VideoURI" as typed: an address with a scheme is kept, a plain path
// becomes a file:// address (relative to `workDir`); blanks around it go.
std::string NormaliseVideoUri(std::string_view typed, const std::string& workDir);

}  // namespace vorlix::app
