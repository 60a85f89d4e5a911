// What the lobby's logic relies on from a tree, checked on every implementation.
//
// Sorted children compare by their texts with letter case ignored, then by the exact text
// (byte codes), then by the key. The texts here are plain ASCII, where the fake's folding of
// A to Z and the Qt tree's collation agree.

#include "TreeHarness.h"

#include <gtest/gtest.h>

using namespace stonecall;

namespace {

using Keys = std::vector<std::string>;

class TreeContract : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override { harness = makeHarness(GetParam()); }

    std::unique_ptr<TreeHarness> harness;
    TreeView& tree() { return harness->tree(); }
};

} // namespace

TEST_P(TreeContract, PlacesChildrenLastOrBeforeTheGivenSibling)
{
    TreeView& t = tree();
    t.add("", "a", "A");
    t.add("", "b", "B");
    t.insert("", "a", "c", "C");
    t.add("a", "a1", "one");
    t.add("a", "a2", "two");
    t.insert("a", "a1", "a0", "zero");
    t.insert("a", "b", "x", "not a sibling"); // b is no child of a: placed last
    t.insert("a", "y", "y", "before itself"); // placed last too

    EXPECT_EQ(t.childKeys(""), (Keys{"c", "a", "b"}));
    EXPECT_EQ(t.childKeys("a"), (Keys{"a0", "a1", "a2", "x", "y"}));
    EXPECT_EQ(t.count(), 8u);
    EXPECT_EQ(t.childCount(""), 3u);
    EXPECT_EQ(t.childCount("a"), 5u);
    EXPECT_EQ(t.childCount("a1"), 0u);
    EXPECT_EQ(t.parentKey("a1"), "a");
    EXPECT_EQ(t.parentKey("a"), "");
    EXPECT_EQ(t.text("a0"), "zero");
    EXPECT_TRUE(t.contains("x"));
}

TEST_P(TreeContract, RefusesWhatItCannotDoAndAnswersEmptyForMissingNodes)
{
    TreeView& t = tree();
    t.add("", "a", "A");
    t.add("", "a", "again");
    t.add("nowhere", "n", "N");
    t.add("", "", "no key");
    t.remove("nowhere");
    t.setText("n", "x");
    t.setTag("n", 1);
    t.setColours("n", Black, White);
    t.setExpanded("n", true);
    t.setSorted("n", true);

    EXPECT_EQ(t.count(), 1u);
    EXPECT_EQ(t.text("a"), "A");
    EXPECT_FALSE(t.contains("n"));
    EXPECT_EQ(t.text("n"), "");
    EXPECT_FALSE(t.tag("n"));
    EXPECT_EQ(t.parentKey("n"), "");
    EXPECT_EQ(t.childCount("n"), 0u);
    EXPECT_TRUE(t.childKeys("n").empty());
    EXPECT_FALSE(t.isExpanded("n"));
}

TEST_P(TreeContract, RemovingANodeTakesItsDescendantsAndFreesTheirKeys)
{
    TreeView& t = tree();
    t.add("", "a", "A");
    t.add("a", "a1", "1");
    t.add("a1", "a1x", "1x");
    t.add("a", "a2", "2");
    t.add("", "b", "B");

    t.remove("a1");
    EXPECT_EQ(t.count(), 3u);
    EXPECT_FALSE(t.contains("a1x"));
    EXPECT_EQ(t.childKeys("a"), (Keys{"a2"}));

    t.add("b", "a1x", "again");
    EXPECT_EQ(t.parentKey("a1x"), "b");
    t.remove("a");
    EXPECT_EQ(t.childKeys(""), (Keys{"b"}));
    EXPECT_EQ(t.count(), 2u);
}

TEST_P(TreeContract, SortedChildrenStandByTextIgnoringCaseThenExactTextThenKey)
{
    TreeView& t = tree();
    t.add("", "g", "group");
    t.setSorted("g", true);
    t.add("g", "k1", "bob");
    t.add("g", "k2", "Alice");
    t.add("g", "k3", "carl");
    t.add("g", "k4", "Bob");
    t.add("g", "k5", "alice");
    t.add("g", "k0", "bob");
    EXPECT_EQ(t.childKeys("g"), (Keys{"k2", "k5", "k4", "k0", "k1", "k3"}));

    t.setText("k3", "Aaron");
    t.setText("k2", "zed");
    EXPECT_EQ(t.childKeys("g"), (Keys{"k3", "k5", "k4", "k0", "k1", "k2"}));
    t.setText("k0", "BOB");
    EXPECT_EQ(t.childKeys("g"), (Keys{"k3", "k5", "k0", "k4", "k1", "k2"}));
    t.add("g", "k6", "Carla");
    EXPECT_EQ(t.childKeys("g"), (Keys{"k3", "k5", "k0", "k4", "k1", "k6", "k2"}));
}

TEST_P(TreeContract, SortingTakesInExistingChildrenAndEndsWhenSwitchedOff)
{
    TreeView& t = tree();
    t.add("", "g", "group");
    t.add("g", "b", "b");
    t.add("g", "a", "a");
    t.add("g", "c", "c");
    EXPECT_EQ(t.childKeys("g"), (Keys{"b", "a", "c"}));
    t.setText("c", "0");
    EXPECT_EQ(t.childKeys("g"), (Keys{"b", "a", "c"})) << "unsorted children stay in place";

    t.setSorted("g", true);
    EXPECT_EQ(t.childKeys("g"), (Keys{"c", "a", "b"}));
    t.setSorted("g", false);
    t.add("g", "d", "000");
    EXPECT_EQ(t.childKeys("g"), (Keys{"c", "a", "b", "d"}));
}

TEST_P(TreeContract, TagsAreSetAndUnset)
{
    TreeView& t = tree();
    t.add("", "a", "A");
    EXPECT_FALSE(t.tag("a"));
    t.setTag("a", 2);
    EXPECT_EQ(t.tag("a"), 2);
    t.setTag("a", 0);
    EXPECT_EQ(t.tag("a"), 0);
    t.setTag("a", std::nullopt);
    EXPECT_FALSE(t.tag("a"));
}

TEST_P(TreeContract, ExpandedFlagHoldsForANodeWhoseChildrenComeLater)
{
    TreeView& t = tree();
    t.add("", "h", "hut");
    t.setExpanded("h", true);
    EXPECT_TRUE(t.isExpanded("h"));
    t.add("h", "p1", "Empty");
    t.add("h", "p2", "Empty");
    EXPECT_TRUE(t.isExpanded("h"));
    t.remove("p1");
    t.remove("p2");
    t.add("h", "p3", "Ann");
    EXPECT_TRUE(t.isExpanded("h"));
    t.setExpanded("h", false);
    EXPECT_FALSE(t.isExpanded("h"));
}

TEST_P(TreeContract, SelectionFollowsTheClickAndLeavesWithTheNode)
{
    TreeView& t = tree();
    t.add("", "a", "A");
    t.setExpanded("a", true);
    t.add("a", "a1", "one");
    t.add("", "b", "B");
    EXPECT_FALSE(t.selectedKey());

    harness->click("b");
    EXPECT_EQ(t.selectedKey(), "b");
    t.remove("a1");
    t.add("b", "b1", "under b");
    EXPECT_EQ(t.selectedKey(), "b");

    t.add("a", "a2", "two");
    harness->click("a2");
    EXPECT_EQ(t.selectedKey(), "a2");
    t.remove("a");
    EXPECT_FALSE(t.selectedKey()) << "the selected node went with its parent";

    harness->click("b1");
    t.clear();
    EXPECT_FALSE(t.selectedKey());
}

TEST_P(TreeContract, ClearEmptiesTheTreeForNewNodes)
{
    TreeView& t = tree();
    t.add("", "a", "A");
    t.add("a", "a1", "1");
    t.clear();
    EXPECT_EQ(t.count(), 0u);
    EXPECT_TRUE(t.childKeys("").empty());
    EXPECT_FALSE(t.contains("a1"));
    t.add("", "a1", "back");
    EXPECT_EQ(t.childKeys(""), (Keys{"a1"}));
}

TEST_P(TreeContract, KeysOfLettersAndNumbersThatLookAlikeAreDifferentNodes)
{
    // Keys that share letters and digits but differ in where the number ends, in leading
    // zeros, in the tail, or in a number past the largest entry; and more kinds of key than
    // the lobby uses.
    TreeView& t = tree();
    const Keys keys = {"c1",       "c12",    "c12x",   "c1x2",      "c012", "c0",       "c00",
                       "u12",      "u32767", "u32768", "u99999999", "h7",   "empty7-2", "empty7-3",
                       "empty72-", "empty7", "c1-2",   "C1",        "cc1",  "c",        "1",
                       "a1",       "b1",     "d1",     "e1",        "f1",   "g1",       "i1",
                       "j1",       "k1",     "l1",     "m1",        "n1",   "o1"};
    for (const std::string& key : keys)
        t.add("", key, "text of " + key);
    ASSERT_EQ(t.count(), keys.size());
    for (const std::string& key : keys)
        EXPECT_EQ(t.text(key), "text of " + key);
    EXPECT_FALSE(t.contains("u1"));
    EXPECT_FALSE(t.contains("c2"));
    EXPECT_FALSE(t.contains("empty7-1"));

    // Removing one leaves its look-alikes, and each key can be taken again.
    for (const std::string& key : keys) {
        t.remove(key);
        EXPECT_FALSE(t.contains(key));
        t.add("", key, "again " + key);
    }
    EXPECT_EQ(t.count(), keys.size());
    for (const std::string& key : keys)
        EXPECT_EQ(t.text(key), "again " + key);
    t.remove("u32768");
    t.remove("c012");
    EXPECT_EQ(t.text("u32767"), "again u32767");
    EXPECT_EQ(t.text("c12"), "again c12");
    EXPECT_EQ(t.count(), keys.size() - 2);
}

INSTANTIATE_TEST_SUITE_P(Trees, TreeContract, testing::Values("fake", "qt"));
