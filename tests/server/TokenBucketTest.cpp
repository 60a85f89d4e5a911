// The chat allowance as a value: a burst, then a rate.

#include "TokenBucket.h"

#include <gtest/gtest.h>

using stonecall::server::TokenBucket;
using namespace std::chrono_literals;

TEST(TokenBucket, BurstThenRateAndNeverMoreThanTheBurst)
{
    const TokenBucket::Clock::time_point start{1h};
    TokenBucket bucket = TokenBucket::full(3, start);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(bucket.take(start, 2.0, 3)) << i;
    EXPECT_FALSE(bucket.take(start, 2.0, 3));
    // Half a second at two a second brings back one token, not more.
    EXPECT_TRUE(bucket.take(start + 500ms, 2.0, 3));
    EXPECT_FALSE(bucket.take(start + 500ms, 2.0, 3));
    // A long pause refills up to the burst only.
    const auto later = start + 1h;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(bucket.take(later, 2.0, 3)) << i;
    EXPECT_FALSE(bucket.take(later, 2.0, 3));
    // No rate: no limit.
    EXPECT_TRUE(bucket.take(later, 0.0, 3));
}
