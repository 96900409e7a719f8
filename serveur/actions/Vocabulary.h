// The words that name events and positions, translated once at load.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vorlix {

// A translated word is kept to at most 31 characters (a 32-byte slot).
inline constexpr std::size_t kWordSlot = 31;

std::string FitWord(std::string_view text);

enum class Word : int { Enter, Leave, GoUp, Fall, Ignore, Left, Right, Up, Down, Center, Ahead, In, Near, Count };

class Vocabulary {
public:
    Vocabulary();

    // Every word through `translate` (the translation of its argument), each
    // cut to the slot.
    template <typename Translate>
    void Load(Translate&& translate)
    {
        for (std::size_t i = 0; i < words_.size(); ++i) {
            words_[i] = FitWord(translate(std::string(DefaultText(static_cast<Word>(i)))));
        }
    }

    [[nodiscard]] const std::string& operator[](Word word) const { return words_[static_cast<std::size_t>(word)]; }

    static std::string_view DefaultText(Word word);

private:
    std::array<std::string, static_cast<std::size_t>(Word::Count)> words_;
};

}  // namespace vorlix
