#pragma once
// The user table: one record per user number the server has announced, indexed from 0.
// The trees are views of it; each view holds a tracker and asks the table which entries
// were edited since it last looked, so a message costs the same whatever the lobby's size.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stonecall {

struct UserInfo {
    std::string Name; // empty marks a free entry
    std::string Extra;
    std::int32_t JoinedHost = 0;
    std::string State;
    std::string Remark;
    std::int32_t Slot = 0;
    std::int32_t HutSize = 0;
    std::string HutPassword;

    friend bool operator==(const UserInfo&, const UserInfo&) = default;
};

// The entries a view must look at again: every entry when `all`, else those listed.
struct TableChanges {
    bool all = false;
    std::vector<std::int32_t> indexes;
};

// Holds exactly the entries 0 to MaxUserIndex and never shrinks.
class UserTable {
public:
    using Tracker = std::size_t;

    UserTable() : Users(1) {}
    // A copy has the entries only: trackers belong to the views of one table.
    UserTable(const UserTable& other) : Users(other.Users) {}
    UserTable& operator=(const UserTable& other)
    {
        Users = other.Users;
        for (Dirty& dirty : trackers)
            dirty.all = true;
        return *this;
    }

    std::int16_t MaxUserIndex() const { return static_cast<std::int16_t>(Users.size() - 1); }
    bool contains(long index) const
    {
        return index >= 0 && index < static_cast<long>(Users.size());
    }
    const UserInfo& operator[](std::size_t index) const { return Users[index]; }

    // Write access; the entry counts as changed for every view.
    UserInfo& edit(std::size_t index)
    {
        markChanged(index, noTracker);
        return Users[index];
    }
    // Write access for a view that has already taken the change into account.
    UserInfo& editBy(Tracker writer, std::size_t index)
    {
        markChanged(index, writer);
        return Users[index];
    }

    // Enlarges the table to the entries 0 to index, keeping every entry; never shrinks.
    // New entries are free, which no view shows, so they do not count as changed.
    void growTo(std::int16_t index)
    {
        if (index > MaxUserIndex())
            Users.resize(static_cast<std::size_t>(index) + 1);
    }

    // A new tracker starts with every entry counted as changed.
    Tracker track()
    {
        for (Tracker t = 0; t < trackers.size(); ++t) {
            if (!trackers[t].inUse) {
                trackers[t] = Dirty{};
                return t;
            }
        }
        trackers.push_back(Dirty{});
        return trackers.size() - 1;
    }
    void untrack(Tracker tracker)
    {
        if (tracker < trackers.size()) {
            trackers[tracker] = Dirty{};
            trackers[tracker].inUse = false;
        }
    }

    // Hands over the entries edited since the tracker last asked, each once, and forgets them.
    void takeChanges(Tracker tracker, TableChanges& out)
    {
        Dirty& dirty = trackers[tracker];
        out.all = dirty.all;
        out.indexes.clear();
        out.indexes.swap(dirty.list);
        for (std::int32_t index : out.indexes)
            dirty.flags[static_cast<std::size_t>(index)] = false;
        dirty.all = false;
    }

private:
    static constexpr Tracker noTracker = static_cast<Tracker>(-1);

    struct Dirty {
        bool inUse = true;
        bool all = true;
        std::vector<bool> flags;
        std::vector<std::int32_t> list;
    };

    void markChanged(std::size_t index, Tracker except)
    {
        for (Tracker t = 0; t < trackers.size(); ++t) {
            Dirty& dirty = trackers[t];
            if (t == except || !dirty.inUse || dirty.all)
                continue;
            if (dirty.flags.size() <= index)
                dirty.flags.resize(std::max(Users.size(), index + 1));
            if (!dirty.flags[index]) {
                dirty.flags[index] = true;
                dirty.list.push_back(static_cast<std::int32_t>(index));
            }
        }
    }

    std::vector<UserInfo> Users;
    std::vector<Dirty> trackers;
};

} // namespace stonecall
