// The server's language: its name from the settings or the locale. The
// language files themselves are kestrel's, shared with the viewer.
#pragma once

#include <string>

#include "libkestrel/lang/Language.h"

namespace vorlix {

using kestrel::EscapeKey;
using kestrel::Language;
using kestrel::UnescapeValue;

// The language name: "LANG" of section "Vorlix" when set (at most 31
// characters), else derived from the process locale ("fr", "it", "es", "de", else "en").
std::string LanguageFromSettings(const std::string& settingsFile);
std::string LanguageFromLocale();

}  // namespace vorlix
