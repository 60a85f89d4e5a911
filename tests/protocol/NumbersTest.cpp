#include "protocol/Numbers.h"

#include <gtest/gtest.h>

using namespace stonecall;

TEST(Numbers, Placeholder)
{
    EXPECT_EQ(lenientNumber<std::int16_t>("12"), 12);
}
