#include "serveur/web/DigestAnswer.h"

#include <gnutls/crypto.h>

#include <array>
#include <cctype>
#include <cstdio>

namespace vorlix::web {

namespace {

bool SameLetters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Md5Hex(std::string_view text)
{
    std::array<unsigned char, 16> digest{};
    if (gnutls_hash_fast(GNUTLS_DIG_MD5, text.data(), text.size(), digest.data()) != 0) {
        return {};
    }
    std::string hex;
    hex.reserve(32);
    for (const unsigned char byte : digest) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", byte);
        hex += two;
    }
    return hex;
}

std::string* FieldOf(DigestAnswer& answer, std::string_view key)
{
    struct Name {
        std::string_view key;
        std::string DigestAnswer::*field;
    };
    static constexpr std::array<Name, 9> kNames = {{
        {"username", &DigestAnswer::username},
        {"realm", &DigestAnswer::realm},
        {"nonce", &DigestAnswer::nonce},
        {"uri", &DigestAnswer::uri},
        {"response", &DigestAnswer::response},
        {"qop", &DigestAnswer::qop},
        {"nc", &DigestAnswer::nc},
        {"cnonce", &DigestAnswer::cnonce},
        {"algorithm", &DigestAnswer::algorithm},
    }};
    for (const Name& name : kNames) {
        if (SameLetters(name.key, key)) {
            return &(answer.*name.field);
        }
    }
    return nullptr;
}

}  // namespace

std::optional<DigestAnswer> ParseDigestAnswer(std::string_view header)
{
    constexpr std::string_view kScheme = "Digest";
    if (header.size() <= kScheme.size() || !SameLetters(header.substr(0, kScheme.size()), kScheme) ||
        (header[kScheme.size()] != ' ' && header[kScheme.size()] != '\t')) {
        return std::nullopt;
    }
    DigestAnswer answer;
    std::size_t at = kScheme.size();
    auto blank = [&](char c) { return c == ' ' || c == '\t' || c == ','; };
    while (true) {
        while (at < header.size() && blank(header[at])) {
            ++at;
        }
        if (at == header.size()) {
            break;
        }
        const std::size_t equals = header.find('=', at);
        if (equals == std::string_view::npos) {
            return std::nullopt;
        }
        std::string_view key = header.substr(at, equals - at);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
            key.remove_suffix(1);
        }
        at = equals + 1;
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t')) {
            ++at;
        }
        std::string value;
        if (at < header.size() && header[at] == '"') {
            for (++at; at < header.size() && header[at] != '"'; ++at) {
                if (header[at] == '\\' && at + 1 < header.size()) {
                    ++at;
                }
                value += header[at];
            }
            if (at == header.size()) {
                return std::nullopt;  // no closing quote
            }
            ++at;
        } else {
            while (at < header.size() && !blank(header[at])) {
                value += header[at++];
            }
        }
        if (key.empty()) {
            return std::nullopt;
        }
        if (std::string* field = FieldOf(answer, key)) {
            if (!field->empty()) {
                return std::nullopt;  // named twice
            }
            *field = std::move(value);
        }
    }
    if (answer.username.empty() || answer.nonce.empty() || answer.response.empty()) {
        return std::nullopt;
    }
    return answer;
}

bool MadeWithPassword(const DigestAnswer& answer, std::string_view method, std::string_view password)
{
    if (!answer.algorithm.empty() && !SameLetters(answer.algorithm, "MD5")) {
        return false;
    }
    const std::string ha1 = Md5Hex(answer.username + ":" + answer.realm + ":" + std::string(password));
    const std::string ha2 = Md5Hex(std::string(method) + ":" + answer.uri);
    std::string expected;
    if (answer.qop.empty()) {
        expected = Md5Hex(ha1 + ":" + answer.nonce + ":" + ha2);
    } else if (SameLetters(answer.qop, "auth")) {
        expected =
            Md5Hex(ha1 + ":" + answer.nonce + ":" + answer.nc + ":" + answer.cnonce + ":" + answer.qop + ":" + ha2);
    } else {
        return false;
    }
    return !ha1.empty() && !expected.empty() && SameLetters(expected, answer.response);
}

}  // namespace vorlix::web
