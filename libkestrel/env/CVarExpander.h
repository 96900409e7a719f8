// Expansion of variable references in a text: %NAME%, %NAME at the end,
// $NAME, and %xHH for one byte of hexadecimal value.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace kestrel {

class CVarExpander {
public:
    virtual ~CVarExpander() = default;

    // Looks up the value of `reference` (as it appears, with its % or $). The
    // base yields nothing and records that a variable was missing.
    virtual void getValue(const std::string& reference, std::string& value);

    // Replaces `text` by its expansion.
    void expand(std::string& text);

    // The reference without one leading "%" or "$" and one trailing "%".
    static std::string getVariableName(std::string_view reference);

    [[nodiscard]] bool allFound() const { return allFound_; }

protected:
    std::string work_;
    bool allFound_ = true;
};

// Looks names up with QXGetenv.
class CEnvVarExpander : public CVarExpander {
public:
    void getValue(const std::string& reference, std::string& value) override;
};

}  // namespace kestrel

// Expands `text`; `outSize` receives the expanded length + 1. When `out` is not
// empty the expansion and its terminating zero are copied into it, cut to fit.
// Returns whether every referenced variable was found.
bool ExtractEnvVar2(std::string_view text, std::span<char> out, std::size_t& outSize);
// The expansion into `out` (cut to fit); returns the expanded length + 1.
std::size_t ExtractEnvVar(std::string_view text, std::span<char> out);
