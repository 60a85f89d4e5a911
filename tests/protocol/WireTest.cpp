#include "protocol/Wire.h"

#include <gtest/gtest.h>

using namespace stonecall;

TEST(Wire, CommandWithoutFieldsIsTheKeywordAlone)
{
    EXPECT_EQ(makeCommand("PINGREPLY"), "PINGREPLY");
}
