#pragma once
// The hut tree lstHuts: one node "h" + host per user in state "HOST", in ascending order of
// the host's index, and under it one line per place of the hut, taken ("c" + member) or
// free ("empty" + host + "-" + place). The members of a host are the users in state
// "CLIENT" whose JoinedHost names it, taken in table order, at most three; a member without
// a place is given the next place number, which stays in the table.
//
// Each call rebuilds only the huts whose host or members were reported changed since the
// last call, and leaves the tree and the places exactly as building everything afresh would.

#include "platform/TreeView.h"
#include "session/UserTable.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace stonecall {

class HutList {
public:
    HutList(UserTable& users, TreeView& lstHuts);
    HutList(const HutList&) = delete;
    HutList& operator=(const HutList&) = delete;

    // The entry was written; the next call looks at it again.
    void entryChanged(std::int32_t index);
    // Every entry may have changed; the next call starts afresh.
    void tableReplaced() { afresh = true; }
    void ConstructHuts();

private:
    static constexpr std::size_t MaxPlaces = 3;

    // What an entry means to the huts.
    struct Role {
        bool host = false;
        std::int16_t memberOf = -1; // entry indexes are 16-bit
    };
    // A place's line: taken by a member, or free (member 0). Its key and text follow from
    // the member and the table, so a full lobby's huts keep a few bytes a line.
    struct PlaceLine {
        std::int32_t member = 0;
        std::optional<int> tag;
    };
    struct Hut {
        bool present = false;
        std::string text;
        std::array<PlaceLine, MaxPlaces> places;
        std::size_t placeCount = 0;
    };
    struct Wanted {
        std::int32_t host;
        Hut hut;
    };

    std::string lineKey(std::int32_t host, std::size_t place, const PlaceLine& line) const;
    std::string lineText(const PlaceLine& line) const;
    void startAfresh();
    Role roleOf(std::int32_t index) const;
    void takeRole(std::int32_t index);
    // The hut as it must be shown now, handing out places on the way; not present if the
    // entry is no host.
    void build(std::int32_t host, Hut& hut);
    Hut& shownHut(std::int32_t host);
    // The first shown hut after this host, if any.
    std::optional<std::int32_t> nextShown(std::int32_t host) const;
    void setShown(std::int32_t host, bool shown);
    void removeHut(std::int32_t host);
    // Whether the hut's line at the place stays: the same key before and now.
    static bool keeps(const Hut& was, const Hut& now, std::size_t place);
    void removeChangedPlaces(std::int32_t host, const Hut& was, const Hut& now);
    // Adds the lines that are new, each at its place, and brings the kept ones up to date.
    void updatePlaces(std::int32_t host, const Hut& was, const Hut& now);

    UserTable& users;
    TreeView& tree;
    // Entries reported changed since the last call, each once.
    std::vector<std::int32_t> changes;
    std::vector<bool> changed;
    bool afresh = true;
    // By entry index.
    std::vector<Role> roles;
    // By host index: the candidate members that name it, in table order; made for the hosts
    // that have any, since most entries host nobody.
    std::vector<std::unique_ptr<std::set<std::int32_t>>> members;
    // By host index: what the tree shows (made for hosts only), and one bit per shown hut for
    // finding neighbours.
    std::vector<std::unique_ptr<Hut>> shown;
    std::vector<std::uint64_t> shownBits;
    std::size_t shownNodes = 0;
    std::vector<std::int32_t> dirtyHosts;
    std::vector<Wanted> wanted;
};

} // namespace stonecall
