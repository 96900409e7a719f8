// A browser's answer to the password question ("Authorization: Digest
// ..."), read apart from any connection, and whether it was made with a
// given password. The library only says yes or no to an answer; this tells
// a wrong password from the right one sent with a nonce that may not be used
// again (two first answers in the same millisecond share one), which earns
// a fresh nonce, not a guesser's delay.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorlix::web {

struct DigestAnswer {
    std::string username, realm, nonce, uri, response, qop, nc, cnonce, algorithm;
};

// The fields of an "Authorization" value; nullopt when it is not a Digest
// answer, is malformed or names a field twice.
std::optional<DigestAnswer> ParseDigestAnswer(std::string_view header);

// True when `answer` is what `password` gives for `method` (MD5, with qop
// "auth" or without qop).
bool MadeWithPassword(const DigestAnswer& answer, std::string_view method, std::string_view password);

}  // namespace vorlix::web
