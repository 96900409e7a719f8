// The password exchange of the stream protocol and what wrong answers cost.
//
// The challenge and answer bytes are the protocol's own. Guessing is slowed
// down: each wrong answer delays the viewer's next password request (the
// first delay, doubling with each wrong answer), and the viewer is closed
// after a set number of them. The delay is kept per peer address, not only
// per connection, so a guesser gains nothing by reconnecting or by opening
// connections side by side: an address with wrong answers gets one password
// request per delay, whatever its number of connections.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "serveur/stream/StreamClient.h"

namespace vorlix {

struct GuessLimits {
    std::chrono::milliseconds firstDelay{1000};  // after the first wrong answer; doubles with each
    int wrongAnswersBeforeClose = 10;            // per connection
};

class PasswordGate {
public:
    enum class Verdict {
        kRight,    // admitted (or an admitted viewer repeated the right answer)
        kWrong,    // still waiting: the next request goes out at client.challengeAt
        kClose,    // the last wrong answer a connection may give
        kIgnored,  // a wrong answer from a viewer already admitted
    };

    // Addresses remembered at most (the oldest go first), and how long after
    // its last wrong answer an address is forgotten.
    static constexpr std::size_t kMaxAddresses = 4096;
    static constexpr std::chrono::minutes kForgetAfter{15};

    explicit PasswordGate(GuessLimits limits = {}) : limits_(limits) {}

    // When the next password request to a viewer at `address` may go out: now
    // when the address has no recent wrong answer. A request let out now
    // takes the address's slot until one more delay has passed.
    StreamClock::time_point ChallengeSlot(const std::string& address, StreamClock::time_point now);

    // Checks the scrambled `answer` of `client` against `password` and
    // updates the client (password state, challengeAt) and its address.
    Verdict Check(StreamClient& client, const std::string& answer, const std::string& password,
                  StreamClock::time_point now);

    // The wait after an address's `failures`-th wrong answer.
    [[nodiscard]] std::chrono::milliseconds Delay(int failures) const;
    [[nodiscard]] const GuessLimits& Limits() const { return limits_; }
    [[nodiscard]] std::size_t AddressCount() const { return records_.size(); }

private:
    struct Record {
        int failures = 0;
        StreamClock::time_point next;  // no password request to this address before
    };
    Record& RecordFor(const std::string& address, StreamClock::time_point now);

    GuessLimits limits_;
    std::unordered_map<std::string, Record> records_;
};

}  // namespace vorlix
