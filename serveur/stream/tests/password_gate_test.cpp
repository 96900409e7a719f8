// What wrong password answers cost, without a network: the doubling delay,
// the pace shared by an address's connections, the close after the last
// allowed answer, and the bounded memory of addresses.
#include <gtest/gtest.h>

#include "serveur/scrambler/PasswordScrambler.h"
#include "serveur/stream/PasswordGate.h"

namespace vorlix {
namespace {

using namespace std::chrono_literals;

std::string Scrambled(std::int32_t challenge, const std::string& password)
{
    std::string out;
    EXPECT_TRUE(ScramblePassword(password, std::to_string(challenge), out));
    return out;
}

StreamClient Waiting(const std::string& address, std::int32_t challenge = -12345)
{
    StreamClient client(kestrel::UniqueFd(), address, 40000);
    client.passwordState = 1;
    client.challenge = challenge;
    return client;
}

class PasswordGateTest : public ::testing::Test {
protected:
    PasswordGate gate_;
    StreamClock::time_point t0_ = StreamClock::now();
};

TEST_F(PasswordGateTest, RightAnswerAdmitsAtOnce)
{
    StreamClient client = Waiting("10.0.0.1");
    EXPECT_EQ(gate_.ChallengeSlot(client.address, t0_), t0_);
    EXPECT_EQ(gate_.Check(client, Scrambled(client.challenge, "pw"), "pw", t0_), PasswordGate::Verdict::kRight);
    EXPECT_TRUE(client.Admitted());
    EXPECT_FALSE(client.challengeAt.has_value());
}

TEST_F(PasswordGateTest, AnswerScrambledForAnotherChallengeOrWithOtherCaseIsWrong)
{
    StreamClient client = Waiting("10.0.0.1", 77);
    EXPECT_EQ(gate_.Check(client, Scrambled(78, "pw"), "pw", t0_), PasswordGate::Verdict::kWrong);
    EXPECT_EQ(gate_.Check(client, Scrambled(77, "PW"), "pw", t0_ + 5s), PasswordGate::Verdict::kWrong);
    EXPECT_EQ(gate_.Check(client, "garbage", "pw", t0_ + 20s), PasswordGate::Verdict::kWrong);
    EXPECT_EQ(client.passwordState, 4);
}

TEST_F(PasswordGateTest, EachWrongAnswerDelaysTheNextRequestOneSecondDoubling)
{
    StreamClient client = Waiting("10.0.0.2");
    auto now = t0_;
    for (int wrong = 1; wrong <= 9; ++wrong) {
        ASSERT_EQ(gate_.Check(client, Scrambled(client.challenge, "nope"), "pw", now), PasswordGate::Verdict::kWrong);
        const auto expected = std::chrono::milliseconds(1000LL << (wrong - 1));
        ASSERT_TRUE(client.challengeAt.has_value());
        EXPECT_EQ(*client.challengeAt - now, expected) << "after wrong answer " << wrong;
        // Not before its time; then the request goes out.
        EXPECT_EQ(gate_.ChallengeSlot(client.address, now + expected - 1ms), now + expected);
        now += expected;
        EXPECT_EQ(gate_.ChallengeSlot(client.address, now), now);
        now += 10ms;  // the viewer answers
    }
}

TEST_F(PasswordGateTest, TheTenthWrongAnswerClosesTheConnection)
{
    StreamClient client = Waiting("10.0.0.3");
    auto now = t0_;
    for (int wrong = 1; wrong < 10; ++wrong) {
        ASSERT_EQ(gate_.Check(client, "x", "pw", now), PasswordGate::Verdict::kWrong) << wrong;
        now = *client.challengeAt;
    }
    EXPECT_EQ(gate_.Check(client, "x", "pw", now), PasswordGate::Verdict::kClose);
}

TEST_F(PasswordGateTest, ReconnectingOrParallelConnectionsShareTheAddressPace)
{
    StreamClient first = Waiting("10.0.0.4");
    ASSERT_EQ(gate_.Check(first, "x", "pw", t0_), PasswordGate::Verdict::kWrong);
    ASSERT_EQ(gate_.Check(first, "x", "pw", t0_ + 1s), PasswordGate::Verdict::kWrong);  // next at +3 s
    // A new connection from the same address waits as the first one would.
    EXPECT_EQ(gate_.ChallengeSlot("10.0.0.4", t0_ + 1s), t0_ + 3s);
    // At +3 s one request goes out; the next connection gets the one after.
    EXPECT_EQ(gate_.ChallengeSlot("10.0.0.4", t0_ + 3s), t0_ + 3s);
    EXPECT_EQ(gate_.ChallengeSlot("10.0.0.4", t0_ + 3s), t0_ + 5s);
    // Its wrong answer counts for the address: the third one waits 4 s.
    StreamClient second = Waiting("10.0.0.4");
    ASSERT_EQ(gate_.Check(second, "x", "pw", t0_ + 3s), PasswordGate::Verdict::kWrong);
    EXPECT_EQ(*second.challengeAt, t0_ + 7s);
    // Another address is not slowed down.
    EXPECT_EQ(gate_.ChallengeSlot("10.0.0.5", t0_ + 3s), t0_ + 3s);
    // A right answer from the address forgets its wrong ones.
    StreamClient third = Waiting("10.0.0.4", 5);
    EXPECT_EQ(gate_.Check(third, Scrambled(5, "pw"), "pw", t0_ + 8s), PasswordGate::Verdict::kRight);
    EXPECT_EQ(gate_.ChallengeSlot("10.0.0.4", t0_ + 8s), t0_ + 8s);
}

TEST_F(PasswordGateTest, DelayStopsGrowingAndOldAddressesAreForgotten)
{
    EXPECT_EQ(gate_.Delay(1), 1s);
    EXPECT_EQ(gate_.Delay(9), 256s);
    EXPECT_EQ(gate_.Delay(40), 256s);
    StreamClient client = Waiting("10.0.0.6");
    ASSERT_EQ(gate_.Check(client, "x", "pw", t0_), PasswordGate::Verdict::kWrong);
    const auto later = t0_ + 1s + PasswordGate::kForgetAfter + 1s;
    EXPECT_EQ(gate_.ChallengeSlot("10.0.0.6", later), later);
    EXPECT_EQ(gate_.AddressCount(), 0U);
}

TEST_F(PasswordGateTest, AddressMemoryIsBounded)
{
    auto now = t0_;
    for (std::size_t i = 0; i < PasswordGate::kMaxAddresses + 50; ++i) {
        StreamClient client = Waiting("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
        ASSERT_EQ(gate_.Check(client, "x", "pw", now), PasswordGate::Verdict::kWrong);
        now += 1ms;
    }
    EXPECT_EQ(gate_.AddressCount(), PasswordGate::kMaxAddresses);
    // The newest are kept.
    EXPECT_GT(gate_.ChallengeSlot("10.1.16.49", now), now);
}

TEST_F(PasswordGateTest, WrongAnswerFromAnAdmittedViewerCostsNothing)
{
    StreamClient client(kestrel::UniqueFd(), "10.0.0.7", 1);
    EXPECT_EQ(gate_.Check(client, "x", "pw", t0_), PasswordGate::Verdict::kIgnored);
    EXPECT_TRUE(client.Admitted());
    EXPECT_EQ(gate_.AddressCount(), 0U);
}

}  // namespace
}  // namespace vorlix
