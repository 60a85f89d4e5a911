#pragma once
// The table traffic of a lobby for the tree benchmarks: a log-in, then single messages that
// move users between groups, in and out of huts, away and back.

#include "RosterMessages.h"

#include <functional>
#include <random>
#include <string>

namespace stonecall::bench {

inline std::string userName(int i)
{
    return "Player_" + std::to_string((i * 7919) % 100003);
}

// Where the trees are told of the entry a message changed and updated, as the dispatcher
// does.
struct Updates {
    std::function<void(std::int32_t)> changed;
    std::function<void()> UpdateUserList;
    std::function<void()> ConstructHuts;
    void entryChanged(std::int32_t index) const { changed(index); }
};

inline void user(UserTable& users, const Updates& updates, int i, const std::string& name)
{
    applyUser(users, i, name, "", updates);
    updates.UpdateUserList();
}

inline void userState(UserTable& users, const Updates& updates, int i, const std::string& state,
                      std::optional<std::int32_t> fourth = {},
                      std::optional<std::string> fifth = {})
{
    applyUserState(users, i, state, fourth, std::move(fifth), updates);
    updates.UpdateUserList();
    updates.ConstructHuts();
}

// Every user named, then every user's state: every tenth a host of a 4-player hut (every
// other one with a password), the next two its members, every seventh playing.
inline void loginUsers(UserTable& users, const Updates& updates, int count)
{
    user(users, updates, 0, "NONE");
    for (int i = 1; i <= count; ++i)
        user(users, updates, i, userName(i));
}

inline void loginStates(UserTable& users, const Updates& updates, int count)
{
    for (int i = 1; i <= count; ++i) {
        if (i % 10 == 0)
            userState(users, updates, i, "HOST", 4, i % 20 == 0 ? "NONE" : "pw");
        else if (i % 10 <= 2 && i > 10)
            userState(users, updates, i, "CLIENT", i - i % 10, std::to_string(i % 10));
        else if (i % 7 == 0)
            userState(users, updates, i, "GAMING");
        else
            userState(users, updates, i, "IDLE");
    }
}

inline void login(UserTable& users, const Updates& updates, int count)
{
    loginUsers(users, updates, count);
    loginStates(users, updates, count);
}

// One message at a time, in a cycle that leaves the lobby as it found it.
class Traffic {
public:
    Traffic(UserTable& users, Updates updates, int count)
        : users(users), updates(std::move(updates)), count(count), random(7)
    {}

    // A user leaves, or comes back under a new name.
    void nextUser()
    {
        if (step++ % 2 == 0) {
            current = pickPlain();
            user(users, updates, current, "NONE");
        } else {
            user(users, updates, current, userName(current + step));
        }
    }

    // A user starts a game, goes idle, joins a hut without a place, leaves it again.
    void nextUserState()
    {
        switch (step++ % 4) {
        case 0:
            current = pickPlain();
            userState(users, updates, current, "GAMING");
            break;
        case 1:
            userState(users, updates, current, "IDLE");
            break;
        case 2:
            userState(users, updates, current, "CLIENT", pickHost(), "0");
            break;
        default:
            userState(users, updates, current, "IDLE");
            break;
        }
    }

private:
    // A user who is neither a host nor a member.
    int pickPlain()
    {
        for (;;) {
            const int i = 1 + static_cast<int>(random() % static_cast<unsigned>(count));
            if (i % 10 >= 3 || i < 10)
                return i;
        }
    }
    int pickHost()
    {
        const int hosts = count / 10;
        return hosts == 0 ? 0
                          : 10 * (1 + static_cast<int>(random() % static_cast<unsigned>(hosts)));
    }

    UserTable& users;
    Updates updates;
    int count;
    std::mt19937 random;
    int step = 0;
    int current = 1;
};

} // namespace stonecall::bench
