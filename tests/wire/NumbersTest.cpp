#include "wire/Numbers.h"

#include <gtest/gtest.h>

using namespace stonecall;
using std::int16_t;
using std::int32_t;

TEST(LenientNumber, TakesTheLeadingNumber)
{
    EXPECT_EQ(lenientNumber<int16_t>("12"), 12);
    EXPECT_EQ(lenientNumber<int16_t>("-7"), -7);
    EXPECT_EQ(lenientNumber<int16_t>("+7"), 7);
    EXPECT_EQ(lenientNumber<int16_t>("42abc"), 42);
    EXPECT_EQ(lenientNumber<int16_t>("abc"), 0);
    EXPECT_EQ(lenientNumber<int16_t>(""), 0);
    EXPECT_EQ(lenientNumber<int16_t>("-"), 0);
    EXPECT_EQ(lenientNumber<int16_t>(".5x"), 0); // 0.5 rounds to even
    EXPECT_EQ(lenientNumber<int16_t>("7."), 7);
}

TEST(LenientNumber, IgnoresBlanksAnywhere)
{
    EXPECT_EQ(lenientNumber<int16_t>(" 1 2\t3\n"), 123);
    EXPECT_EQ(lenientNumber<int16_t>("- 5"), -5);
    EXPECT_EQ(lenientNumber<int16_t>("1 e 2"), 100);
}

TEST(LenientNumber, RoundsHalvesToEven)
{
    EXPECT_EQ(lenientNumber<int16_t>("0.5"), 0);
    EXPECT_EQ(lenientNumber<int16_t>("1.5"), 2);
    EXPECT_EQ(lenientNumber<int16_t>("2.5"), 2);
    EXPECT_EQ(lenientNumber<int16_t>("-2.5"), -2);
    EXPECT_EQ(lenientNumber<int16_t>("2.51"), 3);
    EXPECT_EQ(lenientNumber<int16_t>("-0.4"), 0);
}

TEST(LenientNumber, ReadsExponents)
{
    EXPECT_EQ(lenientNumber<int16_t>("1e3"), 1000);
    EXPECT_EQ(lenientNumber<int16_t>("1E+2"), 100);
    EXPECT_EQ(lenientNumber<int16_t>("25e-1"), 2);
    EXPECT_EQ(lenientNumber<int16_t>("3e"), 3); // an exponent without digits is not part of it
    EXPECT_EQ(lenientNumber<int16_t>("3e+"), 3);
}

TEST(LenientNumber, ValuesOutsideTheWidthAreNoNumber)
{
    EXPECT_EQ(lenientNumber<int16_t>("32767"), 32767);
    EXPECT_EQ(lenientNumber<int16_t>("-32768"), -32768);
    EXPECT_EQ(lenientNumber<int16_t>("32767.5"), std::nullopt); // rounds to 32768
    EXPECT_EQ(lenientNumber<int16_t>("32768"), std::nullopt);
    EXPECT_EQ(lenientNumber<int16_t>("-32769"), std::nullopt);
    EXPECT_EQ(lenientNumber<int32_t>("32768"), 32768);
    EXPECT_EQ(lenientNumber<int32_t>("2147483648"), std::nullopt);
    EXPECT_EQ(lenientNumber<int32_t>("1e400"), std::nullopt);
    EXPECT_EQ(lenientNumber<int32_t>(std::string(5000, '9')), std::nullopt);
}

TEST(StrictNumber, WholeFieldMustBeANumber)
{
    EXPECT_EQ(strictNumber<int16_t>("17"), 17);
    EXPECT_EQ(strictNumber<int16_t>("-17"), -17);
    EXPECT_EQ(strictNumber<int16_t>(" 7 "), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("7\t"), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("\n7"), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("2.5"), 2);
    EXPECT_EQ(strictNumber<int16_t>("3.5"), 4);
    EXPECT_EQ(strictNumber<int16_t>("1e2"), 100);
    EXPECT_EQ(strictNumber<int16_t>(""), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("12x"), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("1 2"), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("abc"), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("-"), std::nullopt);
    EXPECT_EQ(strictNumber<int16_t>("40000"), std::nullopt);
}
