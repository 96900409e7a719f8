#include "serveur/scrambler/PasswordScrambler.h"

#include <utility>

namespace vorlix {
namespace {

// Walks the key text byte by byte, starting again at its beginning; an empty
// key text acts as a single zero byte, like the end of a C text.
class KeyStream {
public:
    KeyStream(std::string_view key, std::string_view seed) : key_(key)
    {
        int sum = 0;
        for (const char c : seed) {
            sum += static_cast<unsigned char>(c);
        }
        m_ = sum % 99;
    }

    // The shift of the next byte, always 32..126.
    int Next()
    {
        const int keyByte = key_.empty() ? 0 : static_cast<unsigned char>(key_[k_]);
        if (++k_ >= key_.size()) {
            k_ = 0;
        }
        int a = (m_ + keyByte) % 127;
        if (a < 32) {
            a += 32;
        }
        return a;
    }

private:
    std::string_view key_;
    std::size_t k_ = 0;
    int m_ = 0;
};

}  // namespace

bool ScramblePassword(std::string_view plain, std::string_view key, std::string& out, std::string_view seed)
{
    if (plain.size() > kMaxPlainLength) {
        return false;
    }
    std::string work(plain);
    work += kScrambleTrailer;
    KeyStream stream(key, seed);
    std::string result;
    result.reserve(work.size());
    for (const char ch : work) {
        const int c = static_cast<unsigned char>(ch);
        const int a = stream.Next();
        const int o = c > a ? c + 32 - a : c + 128 - a;
        result.push_back(static_cast<char>(static_cast<unsigned char>(o & 0xFF)));
    }
    out = std::move(result);
    return true;
}

bool UnscramblePassword(std::string_view scrambled, std::string_view key, std::string& out, std::string_view seed)
{
    if (scrambled.size() < kScrambleTrailer.size()) {
        return false;
    }
    KeyStream stream(key, seed);
    std::string plain;
    plain.reserve(scrambled.size());
    for (const char ch : scrambled) {
        int p = static_cast<unsigned char>(ch) + stream.Next() - 32;
        if (p > 127) {
            p -= 96;
        }
        plain.push_back(static_cast<char>(static_cast<unsigned char>(p & 0xFF)));
    }
    const std::size_t n = plain.size();
    const bool ok = plain[n - 1] == kScrambleTrailer[2] && plain[n - 2] == kScrambleTrailer[1];
    plain.resize(n - kScrambleTrailer.size());
    out = std::move(plain);
    return ok;
}

}  // namespace vorlix
