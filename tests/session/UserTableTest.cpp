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

TEST(UserTable, TrackersSeeEachEditedEntryOnceAndNotTheirOwnWrites)
{
    UserTable users;
    users.growTo(9);
    const UserTable::Tracker list = users.track();
    const UserTable::Tracker huts = users.track();
    TableChanges changes;

    users.takeChanges(list, changes);
    EXPECT_TRUE(changes.all) << "a new view must look at everything";
    users.takeChanges(list, changes);
    EXPECT_FALSE(changes.all);
    EXPECT_TRUE(changes.indexes.empty());

    users.takeChanges(huts, changes);
    users.edit(4).Name = "Ann";
    users.edit(7).State = "HOST";
    users.edit(4).Extra = "x";
    users.editBy(huts, 2).Slot = 1;

    users.takeChanges(list, changes);
    EXPECT_EQ(changes.indexes, (std::vector<std::int32_t>{4, 7, 2}));
    users.takeChanges(huts, changes);
    EXPECT_EQ(changes.indexes, (std::vector<std::int32_t>{4, 7}));
    users.takeChanges(huts, changes);
    EXPECT_TRUE(changes.indexes.empty());

    users.growTo(20);
    users.edit(20).Name = "Bob";
    users.takeChanges(list, changes);
    EXPECT_EQ(changes.indexes, (std::vector<std::int32_t>{20}));
}

TEST(UserTable, CopiesCarryEntriesOnlyAndAssignmentRefreshesViews)
{
    UserTable users;
    const UserTable::Tracker view = users.track();
    TableChanges changes;
    users.takeChanges(view, changes);

    UserTable other;
    other.growTo(3);
    other.edit(3).Name = "Cy";
    const UserTable copy = other;
    EXPECT_EQ(copy[3].Name, "Cy");

    users = other;
    users.takeChanges(view, changes);
    EXPECT_TRUE(changes.all);
}
