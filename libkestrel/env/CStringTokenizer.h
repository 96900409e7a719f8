// Splits a text into tokens at any byte of a separator set; runs of
// separators count as one, so empty tokens never come out.
#pragma once

#include <optional>
#include <string>

namespace kestrel {

class CStringTokenizer {
public:
    // Null texts are empty; null separators leave none stored.
    explicit CStringTokenizer(const char* text, const char* separators = nullptr);
    CStringTokenizer(const std::string& text, const std::string& separators);
    CStringTokenizer(const std::string& text, const char* separators);
    virtual ~CStringTokenizer() = default;

    // The next token in `token` and true, or false with an empty `token`.
    // Given separators replace the stored ones.
    bool nextToken(std::string& token, const char* separators);
    bool nextToken(std::string& token, const std::string& separators);
    // Uses the stored separators; throws CGeneralException (code 5) when none.
    bool nextToken(std::string& token);

private:
    std::string text_;
    std::optional<std::string> separators_;
    std::size_t position_ = 0;
    bool atEnd_ = false;
};

}  // namespace kestrel
