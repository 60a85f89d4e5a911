#pragma once
// The two trees built the straightforward way, step by step as the lobby's rules describe
// them: every update walks the whole table and finds nodes by walking the tree by index.
// Slow on purpose; the tests compare the fast builders against these.

#include "FakeTreeView.h"
#include "session/UserTable.h"

namespace stonecall {

class LiteralUserList {
public:
    LiteralUserList(UserTable& users, FakeTreeView& tree) : users(users), tree(tree) {}
    void CreateUserList();
    void UpdateUserList();

private:
    UserTable& users;
    FakeTreeView& tree;
};

class LiteralHutList {
public:
    LiteralHutList(UserTable& users, FakeTreeView& tree) : users(users), tree(tree) {}
    void ConstructHuts();

private:
    UserTable& users;
    FakeTreeView& tree;
};

} // namespace stonecall
