#pragma once
// The user tree LstUSers: every user with a name under the group "w" (waiting) or "p"
// (playing), each group's text counting its users. Updates patch only the entries that
// were edited since the last update, and leave the tree exactly as a full walk of the
// table would.

#include "platform/TreeView.h"
#include "session/UserTable.h"

#include <string>
#include <vector>

namespace stonecall {

class UserList {
public:
    UserList(UserTable& users, TreeView& LstUSers);
    ~UserList();
    UserList(const UserList&) = delete;
    UserList& operator=(const UserList&) = delete;

    // Empties the tree and makes the two group nodes "chatting" and "playing".
    void CreateUserList();
    // Brings the tree in line with the table; makes the groups first if the tree is empty.
    void UpdateUserList();

private:
    struct Shown {
        bool listed = false;
        bool playing = false;
        std::string text;
    };

    void refresh(std::int32_t index);

    UserTable& users;
    TreeView& tree;
    UserTable::Tracker tracker;
    TableChanges changes;
    std::vector<Shown> shown;
    bool refreshAll = true;
    int waitingCount = 0;
    int playingCount = 0;
    int shownWaiting = -1;
    int shownPlaying = -1;
};

} // namespace stonecall
