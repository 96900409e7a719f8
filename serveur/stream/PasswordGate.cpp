#include "serveur/stream/PasswordGate.h"

#include <algorithm>

#include "serveur/scrambler/PasswordScrambler.h"

namespace vorlix {

namespace {
// The delay stops doubling here (256 times the first one).
constexpr int kLongestDoubling = 8;
}  // namespace

std::chrono::milliseconds PasswordGate::Delay(int failures) const
{
    const int doublings = std::clamp(failures - 1, 0, kLongestDoubling);
    return limits_.firstDelay * (1LL << doublings);
}

PasswordGate::Record& PasswordGate::RecordFor(const std::string& address, StreamClock::time_point now)
{
    if (const auto found = records_.find(address); found != records_.end()) {
        return found->second;
    }
    if (records_.size() >= kMaxAddresses) {
        std::erase_if(records_, [&](const auto& entry) { return entry.second.next + kForgetAfter < now; });
    }
    if (records_.size() >= kMaxAddresses) {
        const auto oldest = std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
            return a.second.next < b.second.next;
        });
        records_.erase(oldest);
    }
    return records_[address];
}

StreamClock::time_point PasswordGate::ChallengeSlot(const std::string& address, StreamClock::time_point now)
{
    const auto found = records_.find(address);
    if (found == records_.end()) {
        return now;
    }
    Record& record = found->second;
    if (record.next + kForgetAfter < now) {
        records_.erase(found);
        return now;
    }
    if (record.next > now) {
        return record.next;
    }
    record.next = now + Delay(record.failures);
    return now;
}

PasswordGate::Verdict PasswordGate::Check(StreamClient& client, const std::string& answer, const std::string& password,
                                          StreamClock::time_point now)
{
    std::string plain;
    const bool right =
        UnscramblePassword(answer, std::to_string(client.challenge), plain, kScrambleSeed) && plain == password;
    if (right) {
        client.passwordState = 0;
        client.challengeAt.reset();
        records_.erase(client.address);
        return Verdict::kRight;
    }
    if (client.Admitted()) {
        return Verdict::kIgnored;
    }
    ++client.passwordState;
    Record& record = RecordFor(client.address, now);
    ++record.failures;
    record.next = now + Delay(record.failures);
    if (client.passwordState - 1 >= limits_.wrongAnswersBeforeClose) {
        return Verdict::kClose;
    }
    client.challengeAt = record.next;
    return Verdict::kWrong;
}

}  // namespace vorlix
