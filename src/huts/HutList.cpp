#include "huts/HutList.h"

#include "wire/Keywords.h"

#include "roster/DisplayName.h"
#include "roster/TreeKeys.h"

#include <algorithm>
#include <bit>

namespace stonecall {

namespace {

// No entry lies beyond this index, so no host can either.
constexpr std::int32_t MaxIndex = 32767;

std::string hutKey(std::int32_t host)
{
    return treeKeys::hut(host);
}

} // namespace

HutList::HutList(UserTable& users, TreeView& lstHuts) : users(users), tree(lstHuts)
{
    tree.setUserCollapsible(false);
}

void HutList::entryChanged(std::int32_t index)
{
    if (index < 0 || index > MaxIndex)
        return;
    const auto i = static_cast<std::size_t>(index);
    if (changed.size() <= i)
        changed.resize(std::max(i + 1, static_cast<std::size_t>(users.MaxUserIndex()) + 1));
    if (!changed[i]) {
        changed[i] = true;
        changes.push_back(index);
    }
}

HutList::Role HutList::roleOf(std::int32_t index) const
{
    const UserInfo& user = users[static_cast<std::size_t>(index)];
    Role role;
    if (user.Name.empty())
        return role;
    role.host = user.State == stateword::Host;
    // A place the hut has no line for cannot be shown or counted, so such a member is left out.
    if (user.State == stateword::Client && user.Slot >= 0 && user.Slot <= std::int32_t(MaxPlaces) &&
        user.JoinedHost >= 0 && user.JoinedHost <= MaxIndex)
        role.memberOf = static_cast<std::int16_t>(user.JoinedHost);
    return role;
}

void HutList::takeRole(std::int32_t index)
{
    if (!users.contains(index))
        return;
    if (roles.size() <= static_cast<std::size_t>(index)) {
        const std::size_t entries = static_cast<std::size_t>(users.MaxUserIndex()) + 1;
        roles.reserve(UserTable::roomFor(entries));
        roles.resize(entries);
    }
    Role& was = roles[static_cast<std::size_t>(index)];
    const Role now = roleOf(index);
    // An edited host or member may change what its hut shows even when its role stays.
    if (was.host || now.host)
        dirtyHosts.push_back(index);
    if (was.memberOf >= 0)
        dirtyHosts.push_back(was.memberOf);
    if (now.memberOf >= 0)
        dirtyHosts.push_back(now.memberOf);
    if (was.memberOf != now.memberOf) {
        if (was.memberOf >= 0)
            members[static_cast<std::size_t>(was.memberOf)]->erase(index);
        if (now.memberOf >= 0) {
            const auto host = static_cast<std::size_t>(now.memberOf);
            if (members.size() <= host) {
                members.reserve(UserTable::roomFor(host + 1));
                members.resize(host + 1);
            }
            if (!members[host])
                members[host] = std::make_unique<std::set<std::int32_t>>();
            members[host]->insert(index);
        }
    }
    was = now;
}

void HutList::startAfresh()
{
    tree.clear();
    shown.clear();
    shownBits.clear();
    shownNodes = 0;
    roles.clear();
    members.clear();
    dirtyHosts.clear();
    for (std::int32_t i = 0; i <= users.MaxUserIndex(); ++i)
        takeRole(i);
    afresh = false;
}

void HutList::build(std::int32_t host, Hut& hut)
{
    hut.present = false;
    hut.placeCount = 0;
    if (!users.contains(host))
        return;
    const UserInfo& owner = users[static_cast<std::size_t>(host)];
    if (owner.Name.empty() || owner.State != stateword::Host)
        return;

    // Place 0 is the host's own; 0 in places 1 to 3 means the place is free, so a member at
    // index 0 shows as a free place.
    std::int32_t place[MaxPlaces + 1] = {host, 0, 0, 0};
    if (static_cast<std::size_t>(host) < members.size() &&
        members[static_cast<std::size_t>(host)]) {
        std::int32_t count = 0;
        for (std::int32_t member : *members[static_cast<std::size_t>(host)]) {
            ++count;
            if (users[static_cast<std::size_t>(member)].Slot == 0)
                users.edit(static_cast<std::size_t>(member)).Slot = count;
            // A later member with the same place takes it over.
            place[users[static_cast<std::size_t>(member)].Slot] = member;
            if (count == std::int32_t(MaxPlaces))
                break;
        }
    }

    hut.present = true;
    hut.text = spacedName(owner.Name);
    const std::int32_t lines = std::clamp(owner.HutSize, 1, std::int32_t(MaxPlaces) + 1) - 1;
    const bool locked = owner.HutPassword != NoneValue;
    for (std::int32_t p = 1; p <= lines; ++p) {
        PlaceLine& line = hut.places[hut.placeCount++];
        line.member = place[p];
        line.tag = place[p] == 0 && locked ? std::optional<int>(p) : std::nullopt;
    }
}

std::string HutList::lineKey(std::int32_t host, std::size_t place, const PlaceLine& line) const
{
    // Places are numbered from 1; line 0 is place 1.
    if (line.member != 0)
        return treeKeys::member(line.member);
    return treeKeys::emptyPlace(host, static_cast<long>(place) + 1);
}

std::string HutList::lineText(const PlaceLine& line) const
{
    if (line.member != 0)
        return spacedName(users[static_cast<std::size_t>(line.member)].Name);
    return "Empty";
}

HutList::Hut& HutList::shownHut(std::int32_t host)
{
    if (shown.size() <= static_cast<std::size_t>(host)) {
        const std::size_t entries = std::max<std::size_t>(
            static_cast<std::size_t>(host) + 1, static_cast<std::size_t>(users.MaxUserIndex()) + 1);
        shown.reserve(UserTable::roomFor(entries));
        shown.resize(entries);
    }
    std::unique_ptr<Hut>& hut = shown[static_cast<std::size_t>(host)];
    if (!hut)
        hut = std::make_unique<Hut>();
    return *hut;
}

void HutList::setShown(std::int32_t host, bool on)
{
    const auto word = static_cast<std::size_t>(host) / 64;
    if (shownBits.size() <= word)
        shownBits.resize(word + 1);
    const std::uint64_t bit = std::uint64_t(1) << (host % 64);
    shownBits[word] = on ? shownBits[word] | bit : shownBits[word] & ~bit;
}

std::optional<std::int32_t> HutList::nextShown(std::int32_t host) const
{
    const auto from = static_cast<std::size_t>(host) + 1;
    for (std::size_t word = from / 64; word < shownBits.size(); ++word) {
        std::uint64_t bits = shownBits[word];
        if (word == from / 64)
            bits &= ~std::uint64_t(0) << (from % 64);
        if (bits)
            return static_cast<std::int32_t>(word * 64) + std::countr_zero(bits);
    }
    return std::nullopt;
}

void HutList::removeHut(std::int32_t host)
{
    Hut& hut = shownHut(host);
    tree.remove(hutKey(host));
    shownNodes -= 1 + hut.placeCount;
    hut.present = false;
    hut.placeCount = 0;
    setShown(host, false);
}

bool HutList::keeps(const Hut& was, const Hut& now, std::size_t place)
{
    // Lines of one host at the same place have the same key when they hold the same member.
    return place < was.placeCount && place < now.placeCount &&
           was.places[place].member == now.places[place].member;
}

void HutList::removeChangedPlaces(std::int32_t host, const Hut& was, const Hut& now)
{
    for (std::size_t p = 0; p < was.placeCount; ++p) {
        if (!keeps(was, now, p)) {
            tree.remove(lineKey(host, p, was.places[p]));
            --shownNodes;
        }
    }
}

void HutList::updatePlaces(std::int32_t host, const Hut& was, const Hut& now)
{
    const std::string parent = hutKey(host);
    for (std::size_t p = 0; p < now.placeCount; ++p) {
        const PlaceLine& line = now.places[p];
        const std::string key = lineKey(host, p, line);
        if (keeps(was, now, p)) {
            // The line's text as shown is the tree's: a member's name may have changed.
            const std::string text = lineText(line);
            if (tree.text(key) != text)
                tree.setText(key, text);
            if (was.places[p].tag != line.tag)
                tree.setTag(key, line.tag);
            continue;
        }
        // A new line goes before the next line the hut keeps; the others after it are gone.
        std::string before;
        for (std::size_t q = p + 1; q < now.placeCount; ++q) {
            if (keeps(was, now, q)) {
                before = lineKey(host, q, now.places[q]);
                break;
            }
        }
        tree.insert(parent, before, key, lineText(line));
        tree.setColours(key, Black, White);
        if (line.tag)
            tree.setTag(key, line.tag);
        ++shownNodes;
    }
}

void HutList::ConstructHuts()
{
    for (std::int32_t i : changes)
        changed[static_cast<std::size_t>(i)] = false;
    // The first call, or a tree changed behind our back, starts from an empty tree.
    if (afresh || tree.count() != shownNodes) {
        startAfresh();
    } else {
        for (std::int32_t i : changes)
            takeRole(i);
    }
    changes.clear();
    std::sort(dirtyHosts.begin(), dirtyHosts.end());
    dirtyHosts.erase(std::unique(dirtyHosts.begin(), dirtyHosts.end()), dirtyHosts.end());
    if (wanted.size() < dirtyHosts.size())
        wanted.resize(dirtyHosts.size());
    for (std::size_t w = 0; w < dirtyHosts.size(); ++w) {
        wanted[w].host = dirtyHosts[w];
        build(dirtyHosts[w], wanted[w].hut);
    }
    const std::size_t wantedCount = dirtyHosts.size();
    dirtyHosts.clear();

    // Every stale line goes before any is added: a member who moved to another hut keeps
    // its key. Lines that keep their key stay where they are.
    for (std::size_t w = 0; w < wantedCount; ++w) {
        const auto& [host, hut] = wanted[w];
        const bool known = static_cast<std::size_t>(host) < shown.size() &&
                           shown[static_cast<std::size_t>(host)] &&
                           shown[static_cast<std::size_t>(host)]->present;
        if (!known)
            continue;
        Hut& was = *shown[static_cast<std::size_t>(host)];
        if (!hut.present)
            removeHut(host);
        else
            removeChangedPlaces(host, was, hut);
    }

    for (std::size_t w = 0; w < wantedCount; ++w) {
        auto& [host, hut] = wanted[w];
        if (!hut.present)
            continue;
        const std::string key = hutKey(host);
        Hut& was = shownHut(host);
        if (!was.present) {
            const std::optional<std::int32_t> next = nextShown(host);
            tree.insert({}, next ? hutKey(*next) : std::string(), key, hut.text);
            tree.setColours(key, Black, White);
            tree.setExpanded(key, true);
            ++shownNodes;
            updatePlaces(host, was, hut);
            std::swap(was, hut);
            setShown(host, true);
            continue;
        }
        if (was.text != hut.text)
            tree.setText(key, hut.text);
        updatePlaces(host, was, hut);
        tree.setExpanded(key, true);
        std::swap(was, hut);
    }
}

} // namespace stonecall
