#pragma once
// The hut tree lstHuts: one node "h" + host per user in state "HOST", in ascending order of
// the host's index, and under it one line per place of the hut, taken ("c" + member) or
// free ("empty" + host + "-" + place). The members of a host are the users in state
// "CLIENT" whose JoinedHost names it, taken in table order, at most three; a member without
// a place is given the next place number, which stays in the table.
//
// Each call rebuilds only the huts whose host or members were edited since the last call,
// and leaves the tree and the places exactly as building everything afresh would.

#include "roster/UserTable.h"
#include "ui/TreeView.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace stonecall {

class HutList {
public:
    HutList(UserTable& users, TreeView& lstHuts);
    ~HutList();
    HutList(const HutList&) = delete;
    HutList& operator=(const HutList&) = delete;

    void ConstructHuts();

private:
    // What an entry means to the huts.
    struct Role {
        bool host = false;
        std::int32_t memberOf = -1;
        friend bool operator==(const Role&, const Role&) = default;
    };
    struct PlaceLine {
        std::string key;
        std::string text;
        std::optional<int> tag;
        friend bool operator==(const PlaceLine&, const PlaceLine&) = default;
    };
    struct Hut {
        std::string text;
        std::vector<PlaceLine> places;
    };

    void startAfresh();
    Role roleOf(std::int32_t index) const;
    void takeRole(std::int32_t index);
    void markHost(std::int32_t host);
    // The hut as it must be shown now, handing out places on the way; none if not a host.
    std::optional<Hut> build(std::int32_t host);
    void removeHut(std::int32_t host);
    void removePlaces(std::int32_t host, Hut& hut);
    void addPlaces(std::int32_t host, const Hut& hut);

    UserTable& users;
    TreeView& tree;
    UserTable::Tracker tracker;
    TableChanges changes;
    bool afresh = true;
    std::vector<Role> roles;
    // Candidate members by the host index they name, in table order.
    std::unordered_map<std::int32_t, std::set<std::int32_t>> members;
    std::map<std::int32_t, Hut> shown;
    std::size_t shownNodes = 0;
    std::set<std::int32_t> dirtyHosts;
};

} // namespace stonecall
