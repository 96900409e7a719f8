#include "serveur/actions/Vocabulary.h"

namespace vorlix {

namespace {
constexpr std::array<std::string_view, static_cast<std::size_t>(Word::Count)> kDefaults = {
    "ENTER", "LEAVE", "GO_UP", "FALL", "IGNORE", "LEFT", "RIGHT", "UP", "DOWN", "CENTER", "AHEAD", "IN", "NEAR"};
}  // namespace

std::string FitWord(std::string_view text)
{
    return std::string(text.substr(0, kWordSlot));
}

Vocabulary::Vocabulary()
{
    for (std::size_t i = 0; i < words_.size(); ++i) {
        words_[i] = std::string(kDefaults[i]);
    }
}

std::string_view Vocabulary::DefaultText(Word word)
{
    return kDefaults[static_cast<std::size_t>(word)];
}

}  // namespace vorlix
