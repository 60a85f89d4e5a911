// When the server writes: answers at the end of their pass, broadcasts at once in a quiet
// lobby and in rounds while requests are answered.

#include "Rounds.h"

#include <gtest/gtest.h>

using stonecall::server::Rounds;
using namespace std::chrono_literals;

namespace {

const Rounds::Clock::time_point T0{std::chrono::seconds(100)};

} // namespace

TEST(Rounds, BroadcastsWaitOnlyWhileRequestsAreAnswered)
{
    Rounds rounds;
    // A chat line: everyone gets it, the sender among them.
    rounds.beginPass();
    rounds.handling(7);
    rounds.toOther();
    EXPECT_TRUE(rounds.atOnce()) << "a chat line in a quiet lobby goes straight out";
    rounds.done();
    rounds.waiting(T0);
    EXPECT_TRUE(rounds.roundDue(T0));
    rounds.endPass();

    // A log-in: the sender is answered, and everyone hears of the newcomer.
    rounds.beginPass();
    rounds.handling(7);
    rounds.toSender();
    rounds.toOther();
    EXPECT_FALSE(rounds.atOnce()) << "a broadcast after an answer waits for its round";
    rounds.done();
    EXPECT_FALSE(rounds.roundDue(T0));
    EXPECT_TRUE(rounds.roundDue(T0 + Rounds::MinDelay));
    rounds.endPass();

    // An answer alone (a user list) makes the pass an answering one.
    rounds.beginPass();
    rounds.handling(7);
    rounds.toSender();
    EXPECT_FALSE(rounds.atOnce());
    rounds.done();
    EXPECT_FALSE(rounds.roundDue(T0));

    // A departure or a notice made outside anyone's input goes at this pass's end, answered
    // or not, and only then.
    EXPECT_FALSE(rounds.urgent());
    rounds.toOther();
    EXPECT_TRUE(rounds.urgent());
    EXPECT_TRUE(rounds.roundDue(T0));
    rounds.endPass();
    EXPECT_FALSE(rounds.urgent());

    // A pass that handled no input and had nothing urgent waits for the round.
    rounds.beginPass();
    rounds.endPass();
    EXPECT_FALSE(rounds.roundDue(T0));
}

TEST(Rounds, ARoundIsDueFourTimesWhatTheLastTookWithinBounds)
{
    Rounds rounds;
    rounds.waiting(T0);
    EXPECT_EQ(rounds.due(), T0 + 1ms);
    rounds.roundTook(50ms);
    EXPECT_EQ(rounds.due(), T0 + 200ms);
    rounds.roundTook(10s);
    EXPECT_EQ(rounds.due(), T0 + 1s);
}
