#include "roster/UserList.h"

#include "wire/Keywords.h"

#include "roster/DisplayName.h"
#include "roster/Numbered.h"
#include "roster/TreeKeys.h"

#include <algorithm>

namespace stonecall {

namespace {

constexpr std::string_view WaitingKey = treeKeys::Waiting;
constexpr std::string_view PlayingKey = treeKeys::Playing;
// No entry lies beyond this index.
constexpr std::int32_t MaxIndex = 32767;

std::string userKey(std::int32_t index)
{
    return treeKeys::user(index);
}

} // namespace

UserList::UserList(const UserTable& users, TreeView& LstUSers) : users(users), tree(LstUSers) {}

void UserList::entryChanged(std::int32_t index)
{
    if (index < 0 || index > MaxIndex)
        return;
    const auto i = static_cast<std::size_t>(index);
    if (shown.size() <= i) {
        const std::size_t entries =
            std::max(i + 1, static_cast<std::size_t>(users.MaxUserIndex()) + 1);
        shown.reserve(UserTable::roomFor(entries));
        shown.resize(entries);
    }
    if (!shown[i].changed) {
        shown[i].changed = true;
        changes.push_back(index);
    }
}

void UserList::CreateUserList()
{
    tree.clear();
    for (auto [key, text] : {std::pair{WaitingKey, "chatting"}, std::pair{PlayingKey, "playing"}}) {
        tree.add({}, key, text);
        tree.setExpanded(key, true);
        tree.setColours(key, Black, White);
        tree.setSorted(key, true);
    }
    shown.clear();
    refreshAll = true;
    waitingCount = playingCount = 0;
    shownWaiting = shownPlaying = -1;
}

void UserList::UpdateUserList()
{
    if (tree.count() == 0)
        CreateUserList();
    for (std::int32_t i : changes) {
        if (static_cast<std::size_t>(i) < shown.size())
            shown[static_cast<std::size_t>(i)].changed = false;
    }
    if (refreshAll) {
        // A table assigned as a whole may hold fewer entries than are listed.
        for (std::size_t i = static_cast<std::size_t>(users.MaxUserIndex()) + 1; i < shown.size();
             ++i) {
            if (shown[i].listed) {
                tree.remove(userKey(static_cast<std::int32_t>(i)));
                --(shown[i].playing ? playingCount : waitingCount);
            }
        }
        shown.resize(std::min(shown.size(), static_cast<std::size_t>(users.MaxUserIndex()) + 1));
        for (std::int32_t i = 0; i <= users.MaxUserIndex(); ++i)
            refresh(i);
    } else {
        for (std::int32_t i : changes)
            refresh(i);
    }
    changes.clear();
    refreshAll = false;
    if (waitingCount != shownWaiting) {
        tree.setText(WaitingKey, numbered("Waiting: ", waitingCount));
        shownWaiting = waitingCount;
    }
    if (playingCount != shownPlaying) {
        tree.setText(PlayingKey, numbered("Playing: ", playingCount));
        shownPlaying = playingCount;
    }
}

void UserList::refresh(std::int32_t index)
{
    if (!users.contains(index))
        return;
    if (shown.size() <= static_cast<std::size_t>(index)) {
        const std::size_t entries = static_cast<std::size_t>(users.MaxUserIndex()) + 1;
        shown.reserve(UserTable::roomFor(entries));
        shown.resize(entries);
    }
    const UserInfo& user = users[static_cast<std::size_t>(index)];
    Shown& now = shown[static_cast<std::size_t>(index)];
    const bool listed = !user.Name.empty();
    // A freed entry's other fields are not read at all.
    const bool playing = listed && user.State == stateword::Gaming;

    if (now.listed && (!listed || now.playing != playing)) {
        tree.remove(userKey(index));
        --(now.playing ? playingCount : waitingCount);
        now.listed = false;
    }
    if (!listed)
        return;
    const std::string text = displayName(user);
    const std::string key = userKey(index);
    if (now.listed) {
        if (tree.text(key) != text)
            tree.setText(key, text);
        return;
    }
    tree.add(playing ? PlayingKey : WaitingKey, key, text);
    tree.setColours(key, Black, White);
    ++(playing ? playingCount : waitingCount);
    now.listed = true;
    now.playing = playing;
}

} // namespace stonecall
