#pragma once
// The user tree LstUSers: every user with a name under the group "w" (waiting) or "p"
// (playing), each group's text counting its users. Updates patch only the entries that
// were reported changed since the last update, and leave the tree exactly as a full walk of
// the table would.

#include "platform/TreeView.h"
#include "session/UserTable.h"

#include <string>
#include <vector>

namespace stonecall {

class UserList {
public:
    UserList(const UserTable& users, TreeView& LstUSers);
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    // Empties the tree and makes the two group nodes "chatting" and "playing".
    void CreateUserList();
    // The entry was written; the next update looks at it again.
    void entryChanged(std::int32_t index);
    // Every entry may have changed; the next update walks the whole table.
    void tableReplaced() { refreshAll = true; }
    // Brings the tree in line with the table; makes the groups first if the tree is empty.
    void UpdateUserList();

private:
    // What the tree shows of an entry; its text is read back from the tree when needed, so
    // that a full lobby keeps a byte per entry here.
    struct Shown {
        bool listed : 1 = false;
        bool playing : 1 = false;
        bool changed : 1 = false; // in `changes`
    };

    void refresh(std::int32_t index);

    const UserTable& users;
    TreeView& tree;
    std::vector<std::int32_t> changes;
    std::vector<Shown> shown;
    bool refreshAll = true;
    int waitingCount = 0;
    int playingCount = 0;
    int shownWaiting = -1;
    int shownPlaying = -1;
};

} // namespace stonecall
