#include "roster/UserList.h"
#include "FakeTreeView.h"
#include "RosterMessages.h"

#include <gtest/gtest.h>

using namespace stonecall;

namespace {

class UserListTest : public testing::Test {
protected:
    void user(long index, std::string_view name)
    {
        applyUser(users, index, name, "extra", list);
        list.UpdateUserList();
    }
    void state(long index, std::string_view word, std::optional<std::int32_t> fourth = {},
               std::optional<std::string> fifth = {})
    {
        applyUserState(users, index, word, fourth, std::move(fifth), list);
        list.UpdateUserList();
    }

    UserTable users;
    FakeTreeView tree;
    UserList list{users, tree};
};

} // namespace

TEST_F(UserListTest, CreateMakesTheTwoGroupsWithTheirFirstTexts)
{
    tree.add("", "stray", "left over");
    list.CreateUserList();
    EXPECT_EQ(tree.dump(), "w \"chatting\" expanded sorted\n"
                           "p \"playing\" expanded sorted\n");
}

TEST_F(UserListTest, FirstUserMakesTheGroupsAndIsCountedAsWaiting)
{
    user(17, "Old_Fox");
    EXPECT_EQ(tree.dump(), "w \"Waiting: 1\" expanded sorted\n"
                           "  u17 \"Old Fox\"\n"
                           "p \"Playing: 0\" expanded sorted\n");
    EXPECT_EQ(tree.foreColour("u17"), Black);
    EXPECT_EQ(tree.backColour("u17"), White);
    EXPECT_EQ(users[17].Extra, "extra");
}

TEST_F(UserListTest, NamesShowBlanksForUnderscoresAndTheRemarkUnlessItSaysNothing)
{
    user(1, "___");
    EXPECT_EQ(tree.text("u1"), "   ");

    user(2, "Old_Fox");
    for (const char* silent : {"back", "none", ""}) {
        users.edit(2).Remark = silent;
        list.entryChanged(2);
        list.UpdateUserList();
        EXPECT_EQ(tree.text("u2"), "Old Fox") << silent;
    }
    users.edit(2).Remark = "Back";
    list.entryChanged(2);
    list.UpdateUserList();
    EXPECT_EQ(tree.text("u2"), "Old Fox (Back)");
}

TEST_F(UserListTest, ChildrenAreSortedIgnoringCaseThenByExactText)
{
    user(1, "carl");
    user(2, "bob");
    user(3, "Bob");
    user(4, "alice");
    user(5, "Dave");
    EXPECT_EQ(tree.childKeys("w"), (std::vector<std::string>{"u4", "u3", "u2", "u1", "u5"}));

    // A new name moves the node to its new place, keeping its key.
    user(4, "zed");
    EXPECT_EQ(tree.childKeys("w"), (std::vector<std::string>{"u3", "u2", "u1", "u5", "u4"}));
    EXPECT_EQ(tree.text("u4"), "zed");
}

TEST_F(UserListTest, FreedUserLosesTheNodeAndTheCountDrops)
{
    user(1, "Ann");
    user(2, "Bob");
    state(2, "GAMING");
    user(3, "Cy");
    ASSERT_EQ(tree.text("w"), "Waiting: 2");

    user(1, "NONE");
    EXPECT_FALSE(tree.contains("u1"));
    EXPECT_EQ(tree.text("w"), "Waiting: 1");
    user(2, "NONE");
    EXPECT_FALSE(tree.contains("u2"));
    EXPECT_EQ(tree.text("p"), "Playing: 0");
    EXPECT_EQ(users.MaxUserIndex(), 3);
}

TEST_F(UserListTest, UserMovesBetweenGroupsWithTheState)
{
    user(4, "Ann");
    state(4, "CLIENT", 7, "1");
    EXPECT_EQ(tree.parentKey("u4"), "w");

    state(4, "GAMING");
    EXPECT_EQ(tree.parentKey("u4"), "p");
    EXPECT_EQ(tree.text("w"), "Waiting: 0");
    EXPECT_EQ(tree.text("p"), "Playing: 1");
    EXPECT_EQ(tree.foreColour("u4"), Black);

    for (const char* waiting : {"IDLE", "HOST", "gaming", ""}) {
        state(4, "GAMING");
        state(4, waiting, 2, "NONE");
        EXPECT_EQ(tree.parentKey("u4"), "w") << waiting;
    }
}

TEST_F(UserListTest, ReusedNumberKeepsThePreviousUsersState)
{
    user(6, "Ann");
    state(6, "GAMING");
    user(6, "NONE");
    user(6, "Bob");
    EXPECT_EQ(tree.parentKey("u6"), "p");
    EXPECT_EQ(tree.text("u6"), "Bob");
    EXPECT_EQ(users[6].State, "GAMING");
}

TEST_F(UserListTest, CreateHostChangesTheEntryButNotTheTreeUntilTheNextUpdate)
{
    user(3, "Ann");
    state(3, "GAMING");
    applyCreateHost(users, 3, list);
    EXPECT_EQ(users[3].State, "HOST");
    EXPECT_EQ(tree.parentKey("u3"), "p");

    user(8, "Bob");
    EXPECT_EQ(tree.parentKey("u3"), "w");
    EXPECT_EQ(tree.text("w"), "Waiting: 2");
}

TEST_F(UserListTest, ClientWithoutPlaceKeepsItsSlot)
{
    user(2, "Ann");
    state(2, "CLIENT", 7, "1");
    state(2, "CLIENT", 9);
    EXPECT_EQ(users[2].JoinedHost, 9);
    EXPECT_EQ(users[2].Slot, 1);
}

TEST_F(UserListTest, TreeEmptiedElsewhereIsBuiltAgainWhole)
{
    user(1, "Ann");
    user(2, "Bob");
    tree.clear();
    user(3, "Cy");
    EXPECT_EQ(tree.dump(), "w \"Waiting: 3\" expanded sorted\n"
                           "  u1 \"Ann\"\n"
                           "  u2 \"Bob\"\n"
                           "  u3 \"Cy\"\n"
                           "p \"Playing: 0\" expanded sorted\n");
}

TEST_F(UserListTest, MessagesTheTableCannotTakeChangeNothing)
{
    user(2, "Ann");
    const std::string before = tree.dump();
    user(-1, "Bob");
    user(32768, "Bob");
    state(5, "GAMING");
    state(-2, "GAMING");
    state(2, "HOST", 3);
    EXPECT_EQ(tree.dump(), before);
    EXPECT_EQ(users.MaxUserIndex(), 2);
    EXPECT_EQ(users[2].State, "");
}
