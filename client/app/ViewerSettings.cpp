#include "client/app/ViewerSettings.h"

#include "libkestrel/profile/Profile.h"
#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix::client {

namespace profile = kestrel::profile;

namespace {

std::string Numbered(std::string_view name, int number)
{
    return std::string(name) + " " + std::to_string(number);
}

}  // namespace

std::string ViewerSettings::Language() const
{
    return profile::GetString(path_, kViewerSection, "LANG", "", 31);
}

std::vector<std::string> ViewerSettings::Hosts() const
{
    std::vector<std::string> hosts;
    for (int number = 1;; ++number) {
        std::string host = Host(number);
        if (host.empty()) {
            return hosts;
        }
        hosts.push_back(std::move(host));
    }
}

std::string ViewerSettings::Host(int number) const
{
    return profile::GetString(path_, kViewerSection, Numbered("Host", number), "", kMaxHostLength);
}

std::string ViewerSettings::PortText(int number) const
{
    return profile::GetString(path_, kViewerSection, Numbered("Port", number), kDefaultPortText, kMaxPortTextLength);
}

int ViewerSettings::FindHostIndex(std::string_view host) const
{
    for (int number = 1;; ++number) {
        const std::string stored = Host(number);
        if (stored.empty() || stored == host) {
            return number;
        }
    }
}

bool ViewerSettings::StoreHost(int number, std::string_view host, std::string_view portText) const
{
    return profile::WriteString(path_, kViewerSection, Numbered("Host", number), host.substr(0, kMaxHostLength)) &&
           profile::WriteString(path_, kViewerSection, Numbered("Port", number),
                                portText.substr(0, kMaxPortTextLength));
}

std::optional<std::string> ViewerSettings::Password(int number) const
{
    const std::string key = Numbered("Password", number);
    const std::string scrambled = profile::GetString(path_, kViewerSection, key, "");
    if (scrambled.size() < kScrambleTrailer.size()) {
        return std::nullopt;
    }
    std::string plain;
    UnscramblePassword(scrambled, key, plain);
    return plain;
}

bool ViewerSettings::StorePassword(int number, std::string_view plain) const
{
    const std::string key = Numbered("Password", number);
    std::string scrambled;
    return ScramblePassword(plain, key, scrambled) && profile::WriteString(path_, kViewerSection, key, scrambled);
}

ViewerContext ViewerSettings::LoadContext() const
{
    ViewerContext context;
    const auto flag = [this](std::string_view key, int fallback) {
        return profile::GetInt(path_, kViewerSection, key, fallback) != 0;
    };
    const auto number = [this](std::string_view key, int fallback) {
        return profile::GetInt(path_, kViewerSection, key, fallback);
    };
    context.stretch = flag("Stretch", 1);
    EffectSettings& e = context.effects;
    e.reverseColor = flag("VerifierCouleur", 0);
    e.blackAndWhite = flag("NoirEtBlanc", 0);
    e.horizontalMirror = flag("EffetMiroir", 0);
    e.verticalMirror = flag("EffetMiroirVertical", 0);
    e.biColor = flag("BiColor", 0);
    e.addColor = flag("Add color", 0);
    e.red = number("Color Red", 0);
    e.green = number("Color Green", 0);
    e.blue = number("Color Blue", 0);
    e.colorModulo = flag("Color Modulo", 0);
    const WindowRect defaults;
    context.rect.top = number("window top", defaults.top);
    context.rect.left = number("window left", defaults.left);
    context.rect.right = number("window right", defaults.right);
    context.rect.bottom = number("window bottom", defaults.bottom);
    return context;
}

bool ViewerSettings::SaveContext(const ViewerContext& context) const
{
    const auto put = [this](std::string_view key, int value) {
        return profile::WriteInt(path_, kViewerSection, key, value);
    };
    const EffectSettings& e = context.effects;
    bool ok = put("window top", context.rect.top);
    ok = put("window left", context.rect.left) && ok;
    ok = put("window right", context.rect.right) && ok;
    ok = put("window bottom", context.rect.bottom) && ok;
    ok = put("VerifierCouleur", e.reverseColor ? 1 : 0) && ok;
    ok = put("NoirEtBlanc", e.blackAndWhite ? 1 : 0) && ok;
    ok = put("EffetMiroir", e.horizontalMirror ? 1 : 0) && ok;
    ok = put("BiColor", e.biColor ? 1 : 0) && ok;
    ok = put("EffetMiroirVertical", e.verticalMirror ? 1 : 0) && ok;
    ok = put("Add color", e.addColor ? 1 : 0) && ok;
    ok = put("Color Red", e.red) && ok;
    ok = put("Color Blue", e.blue) && ok;
    ok = put("Color Green", e.green) && ok;
    ok = put("Color Modulo", e.colorModulo ? 1 : 0) && ok;
    ok = put("Stretch", context.stretch ? 1 : 0) && ok;
    return ok;
}

}  // namespace vorlix::client
