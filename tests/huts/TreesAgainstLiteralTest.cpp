// Random message sequences into the fast builders and the straightforward ones side by side:
// after every message both trees and both tables must be the same.

#include "FakeTreeView.h"
#include "LiteralTrees.h"
#include "RosterMessages.h"
#include "huts/HutList.h"
#include "roster/UserList.h"

#include <gtest/gtest.h>

#include <random>

using namespace stonecall;

namespace {

struct Client {
    UserTable users;
    FakeTreeView userTree;
    FakeTreeView hutTree;
};

class Lobby {
public:
    // Few user numbers, so that numbers, hosts and places collide often; or, in a wide lobby,
    // numbers past 64 huts and across 64-bit word boundaries, where everyone is named first.
    Lobby(std::uint32_t seed, bool wide)
        : random(seed), indexes(wide ? 130 + pick(70) : 4 + pick(13)), unnamed(wide ? 0 : -1)
    {}

    // One message into both clients; returns a line describing it.
    std::string step()
    {
        int kind = pick(100);
        long index = pick(indexes + 1) - 1; // -1 is in no table
        bool host = false;
        if (unnamed >= 0 && unnamed <= indexes) {
            kind = 0;
            index = unnamed++;
        } else if (unnamed >= 0 && kind < 30) {
            // A wide lobby is mostly state changes, many of them new hosts.
            kind = 40;
            host = true;
        }
        if (kind < 40) {
            static const char* names[] = {"NONE", "Ann", "ann", "Bob", "Old_Fox", "Old Fox",
                                          "_",    "zed", "ANN", "b_b", "Cy"};
            const std::string name =
                names[kind == 0 ? 1 + pick(std::size(names) - 1) : pick(std::size(names))];
            applyUser(fast.users, index, name, "x", fastUsers, fastHuts);
            applyUser(literal.users, index, name, "x");
            fastUsers.UpdateUserList();
            literalUsers.UpdateUserList();
            return "USER " + std::to_string(index) + " " + name;
        }
        if (kind < 95) {
            static const char* states[] = {"HOST", "HOST",   "CLIENT", "CLIENT", "CLIENT",
                                           "IDLE", "GAMING", "host",   ""};
            const std::string state = host ? "HOST" : states[pick(std::size(states))];
            std::optional<std::int32_t> fourth = pick(indexes + 3) - 2;
            std::optional<std::string> fifth;
            if (state == "HOST") {
                static const char* passwords[] = {"NONE", "NONE", "none", "pw"};
                fifth = passwords[pick(std::size(passwords))];
            } else if (pick(3) != 0) {
                static const int slots[] = {0, 0, 1, 2, 3, 3, 4, -1, 9};
                fifth = std::to_string(slots[pick(std::size(slots))]);
            }
            applyUserState(fast.users, index, state, fourth, fifth, fastUsers, fastHuts);
            applyUserState(literal.users, index, state, fourth, fifth);
            fastUsers.UpdateUserList();
            fastHuts.ConstructHuts();
            literalUsers.UpdateUserList();
            literalHuts.ConstructHuts();
            return "USERSTATE " + std::to_string(index) + " " + state + " " +
                   std::to_string(*fourth) + " " + fifth.value_or("-");
        }
        if (kind < 99) {
            applyCreateHost(fast.users, index, fastUsers, fastHuts);
            applyCreateHost(literal.users, index);
            return "CREATEHOST " + std::to_string(index);
        }
        fastUsers.CreateUserList();
        literalUsers.CreateUserList();
        return "CreateUserList";
    }

    ::testing::AssertionResult same() const
    {
        if (!fast.userTree.sameAs(literal.userTree))
            return ::testing::AssertionFailure() << "user tree\n"
                                                 << fast.userTree.dump() << "expected\n"
                                                 << literal.userTree.dump();
        if (!fast.hutTree.sameAs(literal.hutTree))
            return ::testing::AssertionFailure() << "hut tree\n"
                                                 << fast.hutTree.dump() << "expected\n"
                                                 << literal.hutTree.dump();
        if (fast.users.MaxUserIndex() != literal.users.MaxUserIndex())
            return ::testing::AssertionFailure() << "table size";
        for (int i = 0; i <= fast.users.MaxUserIndex(); ++i) {
            if (!(fast.users[static_cast<std::size_t>(i)] ==
                  literal.users[static_cast<std::size_t>(i)]))
                return ::testing::AssertionFailure() << "entry " << i;
        }
        return ::testing::AssertionSuccess();
    }

private:
    int pick(std::size_t n) { return static_cast<int>(random() % n); }

    std::mt19937 random;
    int indexes;
    // In a wide lobby, the next user to be named before anything else happens.
    long unnamed;
    Client fast;
    Client literal;
    UserList fastUsers{fast.users, fast.userTree};
    HutList fastHuts{fast.users, fast.hutTree};
    LiteralUserList literalUsers{literal.users, literal.userTree};
    LiteralHutList literalHuts{literal.users, literal.hutTree};
};

} // namespace

TEST(TreesAgainstLiteral, RandomMessageSequencesGiveTheSameTreesAndPlaces)
{
    for (std::uint32_t seed = 1; seed <= 2520; ++seed) {
        const bool wide = seed > 2500;
        Lobby lobby(seed, wide);
        std::string history;
        for (int n = 0; n < (wide ? 600 : 80); ++n) {
            history += lobby.step() + "\n";
            ASSERT_TRUE(lobby.same()) << "seed " << seed << " after\n" << history;
        }
    }
}
