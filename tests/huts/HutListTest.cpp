#include "huts/HutList.h"
#include "FakeTreeView.h"
#include "RosterMessages.h"
#include "roster/Numbered.h"

#include <gtest/gtest.h>

using namespace stonecall;

namespace {

class HutListTest : public testing::Test {
protected:
    void user(long index, std::string_view name) { applyUser(users, index, name, "", huts); }
    void host(long index, std::int32_t size, std::string password = "NONE")
    {
        applyUserState(users, index, "HOST", size, std::move(password), huts);
    }
    void client(long index, std::int32_t joined, std::optional<std::int32_t> slot = {})
    {
        applyUserState(users, index, "CLIENT", joined,
                       slot ? std::optional(std::to_string(*slot)) : std::nullopt, huts);
    }
    // A member whose place is already known, as set by an earlier message.
    void member(long index, std::string_view name, std::int32_t joined, std::int32_t slot)
    {
        user(index, name);
        client(index, joined, slot);
    }

    UserTable users;
    FakeTreeView tree;
    HutList huts{users, tree};
};

} // namespace

TEST_F(HutListTest, BigBobsHutShowsAnnAndOneFreePlace)
{
    user(7, "Big_Bob");
    host(7, 3);
    member(12, "Ann", 7, 0);
    huts.ConstructHuts();

    EXPECT_EQ(users[12].Slot, 1);
    EXPECT_EQ(tree.dump(), "h7 \"Big Bob\" expanded\n"
                           "  c12 \"Ann\"\n"
                           "  empty7-2 \"Empty\"\n");
    EXPECT_FALSE(tree.tag("empty7-2"));
    EXPECT_FALSE(tree.userCollapsible());
}

TEST_F(HutListTest, FreePlacesOfALockedHutCarryTheirNumber)
{
    user(7, "Big_Bob");
    host(7, 4, "none");
    member(12, "Ann", 7, 2);
    huts.ConstructHuts();
    EXPECT_EQ(tree.tag("empty7-1"), 1);
    EXPECT_FALSE(tree.tag("c12"));
    EXPECT_EQ(tree.tag("empty7-3"), 3);

    // The password going away takes the tags with it.
    host(7, 4, "NONE");
    huts.ConstructHuts();
    EXPECT_FALSE(tree.tag("empty7-1"));
    EXPECT_FALSE(tree.tag("empty7-3"));
}

TEST_F(HutListTest, OnlyNamedUsersInTheExactStatesTakePart)
{
    user(2, "NONE");
    user(1, "Ann");
    client(1, 2);
    huts.ConstructHuts();
    EXPECT_EQ(tree.count(), 0u) << "members without a host show nothing";

    applyUserState(users, 2, "host", 3, "NONE", huts);
    huts.ConstructHuts();
    EXPECT_EQ(tree.count(), 0u);

    host(2, 3); // entry 2 has no name
    huts.ConstructHuts();
    EXPECT_EQ(tree.count(), 0u);

    user(2, "Bob");
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys("h2"), (std::vector<std::string>{"c1", "empty2-2"}));

    user(1, "NONE");
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys("h2"), (std::vector<std::string>{"empty2-1", "empty2-2"}));
}

TEST_F(HutListTest, PlaceLinesFollowTheHutSize)
{
    const std::pair<std::int32_t, std::size_t> cases[] = {{-5, 0}, {0, 0}, {1, 0}, {2, 1},
                                                          {3, 2},  {4, 3}, {5, 3}, {90, 3}};
    user(3, "Cy");
    for (auto [size, lines] : cases) {
        host(3, size);
        huts.ConstructHuts();
        EXPECT_TRUE(tree.contains("h3"));
        EXPECT_EQ(tree.childCount("h3"), lines) << size;
    }
}

TEST_F(HutListTest, HutsStandInOrderOfTheHostsIndex)
{
    for (auto [index, name] : {std::pair{9L, "Al"}, {4L, "Zoe"}, {6L, "Mo"}}) {
        user(index, name);
        host(index, 2);
        huts.ConstructHuts();
    }
    EXPECT_EQ(tree.childKeys(""), (std::vector<std::string>{"h4", "h6", "h9"}));

    applyUserState(users, 6, "IDLE", {}, {}, huts);
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys(""), (std::vector<std::string>{"h4", "h9"}));
    EXPECT_TRUE(tree.isExpanded("h4"));
}

TEST_F(HutListTest, SameSlotTwiceLeavesTheLaterMemberInThePlace)
{
    user(7, "Host");
    host(7, 4);
    member(3, "First", 7, 2);
    member(5, "Second", 7, 0);
    huts.ConstructHuts();
    EXPECT_EQ(users[3].Slot, 2);
    EXPECT_EQ(users[5].Slot, 2);
    EXPECT_EQ(tree.childKeys("h7"), (std::vector<std::string>{"empty7-1", "c5", "empty7-3"}));
}

TEST_F(HutListTest, PlaceBeyondTheHutIsNotShown)
{
    user(7, "Host");
    host(7, 3);
    member(3, "Ann", 7, 3);
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys("h7"), (std::vector<std::string>{"empty7-1", "empty7-2"}));
}

TEST_F(HutListTest, FourthMemberIsNeitherShownNorGivenAPlace)
{
    user(1, "Host");
    host(1, 4);
    for (long index : {2L, 3L, 4L, 5L})
        member(index, numbered("M", index), 1, 0);
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys("h1"), (std::vector<std::string>{"c2", "c3", "c4"}));
    EXPECT_EQ(users[5].Slot, 0);

    // Once an earlier member leaves, the fourth is looked at and gets the count as place.
    applyUserState(users, 3, "IDLE", {}, {}, huts);
    huts.ConstructHuts();
    EXPECT_EQ(users[5].Slot, 3);
    EXPECT_EQ(tree.childKeys("h1"), (std::vector<std::string>{"c2", "empty1-2", "c5"}));
}

TEST_F(HutListTest, MemberAtIndexZeroShowsAsAFreePlace)
{
    user(0, "Zero");
    user(4, "Host");
    host(4, 3, "pw");
    client(0, 4);
    huts.ConstructHuts();
    EXPECT_EQ(users[0].Slot, 1);
    EXPECT_EQ(tree.childKeys("h4"), (std::vector<std::string>{"empty4-1", "empty4-2"}));
    EXPECT_EQ(tree.tag("empty4-1"), 1);
}

TEST_F(HutListTest, MemberWithAPlaceOutsideTheHutIsLeftOutAndNotCounted)
{
    user(1, "Host");
    host(1, 4);
    member(2, "Far", 1, 5);
    member(3, "Low", 1, -1);
    member(4, "Ann", 1, 0);
    huts.ConstructHuts();
    EXPECT_EQ(users[4].Slot, 1);
    EXPECT_EQ(users[2].Slot, 5);
    EXPECT_EQ(tree.childKeys("h1"), (std::vector<std::string>{"c4", "empty1-2", "empty1-3"}));
}

TEST_F(HutListTest, MemberMovesToAnotherHutInOneStep)
{
    user(2, "A");
    host(2, 2);
    user(5, "B");
    host(5, 2);
    member(8, "Ann", 5, 0);
    huts.ConstructHuts();
    ASSERT_EQ(tree.parentKey("c8"), "h5");

    client(8, 2, 1);
    huts.ConstructHuts();
    EXPECT_EQ(tree.parentKey("c8"), "h2");
    EXPECT_EQ(tree.childKeys("h5"), (std::vector<std::string>{"empty5-1"}));
}

TEST_F(HutListTest, APlaceTakenLeavesTheOtherLinesAndTheSelectionWhereTheyAre)
{
    user(1, "Host");
    host(1, 4);
    huts.ConstructHuts();
    tree.select("empty1-3");

    member(2, "Ann", 1, 0);
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys("h1"), (std::vector<std::string>{"c2", "empty1-2", "empty1-3"}));
    EXPECT_EQ(tree.selectedKey(), "empty1-3");

    // Ann moves on to the last place: the line she leaves comes back before the one kept.
    client(2, 1, 3);
    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys("h1"), (std::vector<std::string>{"empty1-1", "empty1-2", "c2"}));
}

TEST_F(HutListTest, UserMessagesAloneDoNotRebuildButAreSeenByTheNextCall)
{
    user(7, "Big_Bob");
    host(7, 2);
    huts.ConstructHuts();
    user(7, "NONE");
    applyCreateHost(users, 7, huts); // no name: still no host
    user(9, "Cy");
    applyCreateHost(users, 9, huts);
    EXPECT_TRUE(tree.contains("h7"));

    huts.ConstructHuts();
    EXPECT_EQ(tree.childKeys(""), (std::vector<std::string>{"h9"}));
    EXPECT_EQ(tree.childCount("h9"), 0u) << "CREATEHOST stores no hut size";
}

TEST_F(HutListTest, HostGoingIdleRemovesTheHutAndMembersKeepTheirPlaces)
{
    user(1, "Host");
    host(1, 3);
    member(2, "Ann", 1, 0);
    huts.ConstructHuts();
    applyUserState(users, 1, "IDLE", {}, {}, huts);
    huts.ConstructHuts();
    EXPECT_EQ(tree.count(), 0u);
    EXPECT_EQ(users[2].Slot, 1);
}

TEST_F(HutListTest, NodesForeignToTheHutsAreClearedAway)
{
    tree.add("", "x", "stray");
    huts.ConstructHuts();
    EXPECT_EQ(tree.count(), 0u);

    user(1, "Host");
    host(1, 2);
    huts.ConstructHuts();
    tree.add("", "y", "stray");
    huts.ConstructHuts();
    EXPECT_EQ(tree.dump(), "h1 \"Host\" expanded\n"
                           "  empty1-1 \"Empty\"\n");
}
