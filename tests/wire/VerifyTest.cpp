#include "wire/Verify.h"

#include <gtest/gtest.h>

using namespace stonecall;

TEST(Verify, ResponseStaysInsideItsIntegerRanges)
{
    EXPECT_EQ(verifyResponse(0), 0);
    EXPECT_EQ(verifyResponse(1), 2 * (2 + VerifyConstant));
    EXPECT_EQ(verifyResponse(-3), -6 * (-6 + VerifyConstant));
    // The range ends: the sum reaches the 16-bit limits exactly.
    EXPECT_EQ(verifyResponse(MaxChallenge), 2 * MaxChallenge * 32767);
    EXPECT_EQ(verifyResponse(MinChallenge), 2 * MinChallenge * -32767);
    EXPECT_EQ(verifyResponse(MaxChallenge + 1), std::nullopt);
    EXPECT_EQ(verifyResponse(MinChallenge - 1), std::nullopt);
    EXPECT_EQ(verifyResponse(11589), std::nullopt); // v + R alone overflows
    for (int v = MinChallenge; v <= MaxChallenge; v += 97)
        EXPECT_TRUE(verifyResponse(static_cast<std::int16_t>(v))) << v;
}
