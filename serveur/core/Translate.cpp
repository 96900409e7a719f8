#include "serveur/core/Translate.h"

#include <locale.h>
#include <clocale>
#include <cstdlib>

#include "libkestrel/profile/Profile.h"
#include "serveur/core/SettingsSections.h"

namespace vorlix {

std::string LanguageFromLocale()
{
    const char* name = std::getenv("LC_ALL");
    if (name == nullptr || *name == '\0') {
        name = std::getenv("LC_MESSAGES");
    }
    if (name == nullptr || *name == '\0') {
        name = std::getenv("LANG");
    }
    const std::string s = name != nullptr ? name : "";
    std::string two = s.substr(0, 2);
    if (two == "fr" || two == "it" || two == "es" || two == "de") {
        return two;
    }
    return "en";
}

std::string LanguageFromSettings(const std::string& settingsFile)
{
    std::string lang = kestrel::profile::GetString(settingsFile, section::kMain, "LANG", "", 31);
    if (lang.empty()) {
        return LanguageFromLocale();
    }
    static const char* const kLocales[][2] = {{"fr", "fr_FR.UTF-8"},
                                              {"en", "en_US.UTF-8"},
                                              {"es", "es_ES.UTF-8"},
                                              {"de", "de_DE.UTF-8"},
                                              {"it", "it_IT.UTF-8"}};
    for (const auto& [code, loc] : kLocales) {
        if (lang == code) {
            // The thread's locale follows the language when the system has it.
            if (locale_t l = ::newlocale(LC_ALL_MASK, loc, static_cast<locale_t>(nullptr))) {
                ::uselocale(l);
            }
        }
    }
    return lang;
}

}  // namespace vorlix
