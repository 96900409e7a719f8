#include "libkestrel/env/CStringTokenizer.h"

#include "libkestrel/framework/QXException.h"

namespace kestrel {

CStringTokenizer::CStringTokenizer(const char* text, const char* separators)
    : text_(text != nullptr ? text : ""),
      separators_(separators != nullptr ? std::optional<std::string>(separators) : std::nullopt)
{
}

CStringTokenizer::CStringTokenizer(const std::string& text, const std::string& separators)
    : text_(text), separators_(separators)
{
}

CStringTokenizer::CStringTokenizer(const std::string& text, const char* separators)
    : CStringTokenizer(text.c_str(), separators)
{
    text_ = text;  // keep bytes after an embedded zero
}

bool CStringTokenizer::nextToken(std::string& token, const char* separators)
{
    separators_ = separators != nullptr ? std::optional<std::string>(separators) : std::nullopt;
    return nextToken(token);
}

bool CStringTokenizer::nextToken(std::string& token, const std::string& separators)
{
    separators_ = separators;
    return nextToken(token);
}

bool CStringTokenizer::nextToken(std::string& token)
{
    if (!separators_) {
        KESTREL_THROW_GENERAL(5, "Separator not specified in CStringTokenizer::nextToken");
    }
    token.clear();
    if (atEnd_) {
        return false;
    }
    const std::string& seps = *separators_;
    const std::size_t start = text_.find_first_not_of(seps, position_);
    if (start == std::string::npos) {
        atEnd_ = true;
        return false;
    }
    const std::size_t stop = text_.find_first_of(seps, start);
    if (stop == std::string::npos) {
        token = text_.substr(start);
        atEnd_ = true;
    } else {
        token = text_.substr(start, stop - start);
        position_ = stop + 1;
    }
    return true;
}

}  // namespace kestrel
