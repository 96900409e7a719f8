// What wrong passwords cost a browser's address: each wrong answer is
// answered late, and later with each one more from the same address (the
// delay doubles up to a ceiling), so guessing from one address goes slowly
// however many connections it opens. A right answer does not wipe the
// record: a guesser may share its address with a user who knows the
// password. Addresses are forgotten after a quiet while, and at most a
// bounded number are remembered.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vorlix::web {

struct GuessCost {
    int failures = 0;                   // wrong answers of the address, this one included
    std::chrono::milliseconds delay{};  // before this answer goes out
};

class GuessGuard {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxAddresses = 4096;
    static constexpr std::chrono::minutes kForgetAfter{15};

    explicit GuessGuard(std::chrono::milliseconds firstDelay = std::chrono::milliseconds(1000),
                        std::chrono::milliseconds mostDelay = std::chrono::milliseconds(16000))
        : first_(firstDelay), most_(mostDelay)
    {
    }

    void SetDelays(std::chrono::milliseconds firstDelay, std::chrono::milliseconds mostDelay);
    // A wrong answer from `address`; any thread.
    GuessCost Wrong(const std::string& address, Clock::time_point now = Clock::now());
    [[nodiscard]] std::size_t Addresses() const;

private:
    struct Record {
        int failures = 0;
        Clock::time_point last;
    };
    void Prune(Clock::time_point now);

    std::chrono::milliseconds first_, most_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, Record> records_;
};

}  // namespace vorlix::web
