#include "huts/HutList.h"

#include "roster/DisplayName.h"
#include "roster/Numbered.h"

#include <algorithm>

namespace stonecall {

namespace {

// A member's place is one of 1 to 3, or 0 until one is handed out.
constexpr std::int32_t MaxPlace = 3;
// No entry lies beyond this index, so no host can either.
constexpr std::int32_t MaxIndex = 32767;

std::string hutKey(std::int32_t host)
{
    return numbered("h", host);
}

} // namespace

HutList::HutList(UserTable& users, TreeView& lstHuts)
    : users(users), tree(lstHuts), tracker(users.track())
{
    tree.setUserCollapsible(false);
}

HutList::~HutList()
{
    users.untrack(tracker);
}

HutList::Role HutList::roleOf(std::int32_t index) const
{
    const UserInfo& user = users[static_cast<std::size_t>(index)];
    Role role;
    if (user.Name.empty())
        return role;
    role.host = user.State == "HOST";
    // A place the hut has no line for cannot be shown or counted, so such a member is left out.
    if (user.State == "CLIENT" && user.Slot >= 0 && user.Slot <= MaxPlace && user.JoinedHost >= 0 &&
        user.JoinedHost <= MaxIndex)
        role.memberOf = user.JoinedHost;
    return role;
}

void HutList::markHost(std::int32_t host)
{
    dirtyHosts.insert(host);
}

void HutList::takeRole(std::int32_t index)
{
    if (!users.contains(index))
        return;
    if (roles.size() <= static_cast<std::size_t>(index))
        roles.resize(static_cast<std::size_t>(users.MaxUserIndex()) + 1);
    Role& was = roles[static_cast<std::size_t>(index)];
    const Role now = roleOf(index);
    // An edited host or member may change what its hut shows even when its role stays.
    if (was.host || now.host)
        markHost(index);
    if (was.memberOf >= 0)
        markHost(was.memberOf);
    if (now.memberOf >= 0)
        markHost(now.memberOf);
    if (was.memberOf != now.memberOf) {
        if (was.memberOf >= 0) {
            auto it = members.find(was.memberOf);
            it->second.erase(index);
            if (it->second.empty())
                members.erase(it);
        }
        if (now.memberOf >= 0)
            members[now.memberOf].insert(index);
    }
    was = now;
}

void HutList::startAfresh()
{
    tree.clear();
    shown.clear();
    shownNodes = 0;
    roles.clear();
    members.clear();
    dirtyHosts.clear();
    for (std::int32_t i = 0; i <= users.MaxUserIndex(); ++i)
        takeRole(i);
    afresh = false;
}

std::optional<HutList::Hut> HutList::build(std::int32_t host)
{
    if (!users.contains(host))
        return std::nullopt;
    const UserInfo& owner = users[static_cast<std::size_t>(host)];
    if (owner.Name.empty() || owner.State != "HOST")
        return std::nullopt;

    // Place 0 is the host's own; 0 in places 1 to 3 means the place is free, so a member at
    // index 0 shows as a free place.
    std::int32_t place[MaxPlace + 1] = {host, 0, 0, 0};
    if (auto found = members.find(host); found != members.end()) {
        std::int32_t count = 0;
        for (std::int32_t member : found->second) {
            ++count;
            if (users[static_cast<std::size_t>(member)].Slot == 0)
                users.editBy(tracker, static_cast<std::size_t>(member)).Slot = count;
            // A later member with the same place takes it over.
            place[users[static_cast<std::size_t>(member)].Slot] = member;
            if (count == MaxPlace)
                break;
        }
    }

    Hut hut;
    hut.text = spacedName(owner.Name);
    const std::int32_t lines = std::clamp(owner.HutSize, 1, MaxPlace + 1) - 1;
    const bool locked = owner.HutPassword != "NONE";
    for (std::int32_t p = 1; p <= lines; ++p) {
        if (place[p] != 0) {
            hut.places.push_back({numbered("c", place[p]),
                                  spacedName(users[static_cast<std::size_t>(place[p])].Name),
                                  std::nullopt});
        } else {
            hut.places.push_back({numbered(numbered("empty", host) + "-", p), "Empty",
                                  locked ? std::optional<int>(p) : std::nullopt});
        }
    }
    return hut;
}

void HutList::removeHut(std::int32_t host)
{
    auto it = shown.find(host);
    tree.remove(hutKey(host));
    shownNodes -= 1 + it->second.places.size();
    shown.erase(it);
}

void HutList::removePlaces(std::int32_t, Hut& hut)
{
    for (const PlaceLine& line : hut.places)
        tree.remove(line.key);
    shownNodes -= hut.places.size();
    hut.places.clear();
}

void HutList::addPlaces(std::int32_t host, const Hut& hut)
{
    const std::string parent = hutKey(host);
    for (const PlaceLine& line : hut.places) {
        tree.add(parent, line.key, line.text);
        tree.setColours(line.key, Black, White);
        if (line.tag)
            tree.setTag(line.key, line.tag);
    }
    shownNodes += hut.places.size();
}

namespace {

template <typename Lines> bool sameKeys(const Lines& a, const Lines& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.key == y.key; });
}

} // namespace

void HutList::ConstructHuts()
{
    users.takeChanges(tracker, changes);
    // The first call, or a tree changed behind our back, starts from an empty tree.
    if (afresh || changes.all || tree.count() != shownNodes) {
        startAfresh();
    } else {
        for (std::int32_t i : changes.indexes)
            takeRole(i);
    }

    std::vector<std::pair<std::int32_t, std::optional<Hut>>> wanted;
    wanted.reserve(dirtyHosts.size());
    for (std::int32_t host : dirtyHosts)
        wanted.emplace_back(host, build(host));
    dirtyHosts.clear();

    // Every stale node goes before any is added: a member who moved to another hut keeps
    // its key.
    for (auto& [host, hut] : wanted) {
        auto it = shown.find(host);
        if (it == shown.end())
            continue;
        if (!hut)
            removeHut(host);
        else if (!sameKeys(it->second.places, hut->places))
            removePlaces(host, it->second);
    }

    for (auto& [host, hut] : wanted) {
        if (!hut)
            continue;
        const std::string key = hutKey(host);
        auto it = shown.find(host);
        if (it == shown.end()) {
            auto next = shown.upper_bound(host);
            tree.insert({}, next == shown.end() ? std::string() : hutKey(next->first), key,
                        hut->text);
            tree.setColours(key, Black, White);
            tree.setExpanded(key, true);
            ++shownNodes;
            addPlaces(host, *hut);
            shown.emplace(host, std::move(*hut));
            continue;
        }
        Hut& was = it->second;
        if (was.text != hut->text)
            tree.setText(key, hut->text);
        if (was.places.empty()) {
            addPlaces(host, *hut);
        } else {
            for (std::size_t p = 0; p < hut->places.size(); ++p) {
                const PlaceLine& line = hut->places[p];
                if (was.places[p].text != line.text)
                    tree.setText(line.key, line.text);
                if (was.places[p].tag != line.tag)
                    tree.setTag(line.key, line.tag);
            }
        }
        tree.setExpanded(key, true);
        was = std::move(*hut);
    }
}

} // namespace stonecall
