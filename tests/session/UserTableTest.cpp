#include "session/UserTable.h"

#include <gtest/gtest.h>

using namespace stonecall;

TEST(UserTable, StartsWithOneFreeEntryAndOnlyGrows)
{
    UserTable users;
    EXPECT_EQ(users.MaxUserIndex(), 0);
    EXPECT_TRUE(users[0].Name.empty());
    EXPECT_FALSE(users.contains(1));
    EXPECT_FALSE(users.contains(-1));

    users.edit(0).Name = "Ann";
    users.growTo(5);
    EXPECT_EQ(users.MaxUserIndex(), 5);
    EXPECT_EQ(users[0].Name, "Ann");
    EXPECT_EQ(users[5], UserInfo{});

    users.growTo(2);
    users.growTo(-3);
    EXPECT_EQ(users.MaxUserIndex(), 5);

    users.growTo(32767);
    EXPECT_EQ(users.MaxUserIndex(), 32767);
    EXPECT_TRUE(users.contains(32767));
}
