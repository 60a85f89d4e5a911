// The builders over the Qt trees, the views told of the changes at random points, give the
// same trees as over the in-memory ones, and the views show them.

#include "FakeTreeView.h"
#include "RosterMessages.h"
#include "TreeHarness.h"
#include "huts/HutList.h"
#include "qt/QtTreeView.h"
#include "roster/Numbered.h"
#include "roster/UserList.h"

#include <gtest/gtest.h>

#include <random>

using namespace stonecall;

namespace {

std::string describe(const TreeView& tree, const std::string& parent = {}, int depth = 0)
{
    std::string out;
    for (const std::string& key : tree.childKeys(parent)) {
        out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + key + " \"" +
               tree.text(key) + "\"";
        if (tree.tag(key))
            out += " tag=" + std::to_string(*tree.tag(key));
        if (tree.isExpanded(key))
            out += " expanded";
        out += "\n" + describe(tree, key, depth + 1);
    }
    return out;
}

struct Lobby {
    explicit Lobby(TreeView& userTree, TreeView& hutTree)
        : list(users, userTree), huts(users, hutTree)
    {}
    UserTable users;
    UserList list;
    HutList huts;
};

} // namespace

TEST(LobbyTrees, BurstsOfMessagesIntoTheQtTreesMatchTheInMemoryTrees)
{
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int n) { return static_cast<int>(random() % unsigned(n)); };
        FakeTreeView fakeUsers, fakeHuts;
        QtTreeView qtUsers, qtHuts;
        Lobby fake(fakeUsers, fakeHuts);
        Lobby qt(qtUsers, qtHuts);
        const int size = 20 + pick(200);

        for (int burst = 0; burst < 40; ++burst) {
            for (int n = pick(4) == 0 ? 150 : 1 + pick(5); n > 0; --n) {
                const long i = pick(size);
                if (pick(10) < 4) {
                    const std::string name =
                        pick(5) == 0 ? "NONE" : numbered(pick(2) ? "Ann_" : "bob", pick(50));
                    for (Lobby* lobby : {&fake, &qt}) {
                        applyUser(lobby->users, i, name, "", lobby->list, lobby->huts);
                        lobby->list.UpdateUserList();
                    }
                    continue;
                }
                static const char* states[] = {"HOST", "CLIENT", "CLIENT", "IDLE", "GAMING"};
                const std::string state = states[pick(5)];
                const std::int32_t fourth = pick(size) / 5 * 5;
                const std::string fifth =
                    state == "HOST" ? (pick(2) ? "NONE" : "pw") : std::to_string(pick(4));
                for (Lobby* lobby : {&fake, &qt}) {
                    applyUserState(lobby->users, i, state, fourth, fifth, lobby->list, lobby->huts);
                    lobby->list.UpdateUserList();
                    lobby->huts.ConstructHuts();
                }
            }
            ASSERT_EQ(describe(qtUsers), describe(fakeUsers)) << "seed " << seed;
            ASSERT_EQ(describe(qtHuts), describe(fakeHuts)) << "seed " << seed;
            if (pick(3) == 0)
                continue;
            qtUsers.settle();
            qtHuts.settle();
            ASSERT_EQ(describeView(qtUsers), describeTexts(fakeUsers)) << "seed " << seed;
            ASSERT_EQ(describeView(qtHuts), describeTexts(fakeHuts)) << "seed " << seed;
            ASSERT_EQ(describeRows(qtUsers), describeOpenRows(fakeUsers)) << "seed " << seed;
            ASSERT_EQ(describeRows(qtHuts), describeOpenRows(fakeHuts)) << "seed " << seed;
        }
    }
}
