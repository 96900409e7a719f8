// The section names of a camera's settings file, spelled once for every
// room that reads or writes it.
#pragma once

namespace vorlix::section {

inline constexpr const char* kMain = "Vorlix";
inline constexpr const char* kSound = "Vorlix Sound Management";
inline constexpr const char* kAudio = "Vorlix Audio Management";
inline constexpr const char* kFtp = "Vorlix FTP";
inline constexpr const char* kMail = "Vorlix MAIL";
inline constexpr const char* kExecute = "Vorlix Execute";
inline constexpr const char* kClient = "Vorlix Client";
inline constexpr const char* kFormat = "Vorlix Format";
inline constexpr const char* kWeb = "Vorlix Web";

}  // namespace vorlix::section
