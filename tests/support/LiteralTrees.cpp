#include "LiteralTrees.h"
#include "roster/Numbered.h"
#include "roster/TreeKeys.h"

#include <string>
#include <vector>

namespace stonecall {

namespace {

std::string underscoresAsBlanks(std::string text)
{
    for (char& c : text) {
        if (c == '_')
            c = ' ';
    }
    return text;
}

// Walks the nodes by index and takes the first with the key; 0 when there is none.
std::size_t indexOfKey(const FakeTreeView& tree, const std::string& key)
{
    for (std::size_t j = 1; j <= tree.count(); ++j) {
        if (tree.keyAt(j) == key)
            return j;
    }
    return 0;
}

} // namespace

void LiteralUserList::CreateUserList()
{
    tree.clear();
    tree.add("", "w", "chatting");
    std::string last = tree.keyAt(tree.count());
    tree.setExpanded(last, true);
    tree.setColours(last, Black, White);
    tree.setSorted(last, true);
    tree.add("", "p", "playing");
    last = tree.keyAt(tree.count());
    tree.setExpanded(last, true);
    tree.setColours(last, Black, White);
    tree.setSorted(last, true);
}

void LiteralUserList::UpdateUserList()
{
    if (tree.count() == 0)
        CreateUserList();
    int waitingCount = 0;
    int playingCount = 0;
    for (int i = 0; i <= users.MaxUserIndex(); ++i) {
        const UserInfo& user = users[static_cast<std::size_t>(i)];
        if (user.Name.empty())
            continue;
        std::string shown = underscoresAsBlanks(user.Name);
        if (user.Remark != "back" && user.Remark != "none" && !user.Remark.empty())
            shown += " (" + user.Remark + ")";
        std::string group;
        if (user.State == "GAMING") {
            group = "p";
            ++playingCount;
        } else {
            group = "w";
            ++waitingCount;
        }
        const std::string key = treeKeys::user(i);
        std::size_t found = indexOfKey(tree, key);
        if (found != 0 && tree.parentKey(tree.keyAt(found)) != group) {
            tree.removeAt(indexOfKey(tree, key));
            found = 0;
        }
        if (found != 0 && tree.text(tree.keyAt(found)) != shown)
            tree.setText(tree.keyAt(found), shown);
        if (found == 0) {
            tree.add(group, key, shown);
            const std::string last = tree.keyAt(tree.count());
            tree.setColours(last, Black, White);
        }
    }
    for (bool removed = true; removed;) {
        removed = false;
        const std::size_t n = tree.count();
        for (std::size_t j = 1; j <= n; ++j) {
            const std::string key = tree.keyAt(j);
            if (key != "w" && key != "p") {
                const long index = std::stol(key.substr(1));
                if (users[static_cast<std::size_t>(index)].Name.empty()) {
                    tree.removeAt(j);
                    removed = true;
                    break;
                }
            } else if (key == "w") {
                tree.setText(key, numbered("Waiting: ", waitingCount));
            } else {
                tree.setText(key, numbered("Playing: ", playingCount));
            }
        }
    }
}

void LiteralHutList::ConstructHuts()
{
    std::vector<int> hosts;
    for (int i = 0; i <= users.MaxUserIndex(); ++i) {
        const UserInfo& user = users[static_cast<std::size_t>(i)];
        if (!user.Name.empty() && user.State == "HOST")
            hosts.push_back(i);
    }
    tree.clear();
    if (hosts.empty())
        return;
    for (int host : hosts) {
        int place[4] = {host, 0, 0, 0};
        int memberCount = 0;
        for (int i = 0; i <= users.MaxUserIndex(); ++i) {
            const UserInfo& user = users[static_cast<std::size_t>(i)];
            if (user.Name.empty() || user.State != "CLIENT" || user.JoinedHost != host)
                continue;
            // Places outside the table are left out entirely.
            if (user.Slot < 0 || user.Slot > 3)
                continue;
            ++memberCount;
            if (user.Slot == 0)
                users.edit(static_cast<std::size_t>(i)).Slot = memberCount;
            place[user.Slot] = i;
            if (memberCount == 3)
                break;
        }
        const UserInfo& owner = users[static_cast<std::size_t>(host)];
        const std::string hutKey = treeKeys::hut(host);
        tree.add("", hutKey, underscoresAsBlanks(owner.Name));
        std::string last = tree.keyAt(tree.count());
        tree.setColours(last, Black, White);
        tree.setExpanded(last, true);
        // More than four players still lists three places.
        const int lastPlace = owner.HutSize > 4 ? 3 : owner.HutSize - 1;
        for (int p = 1; p <= lastPlace; ++p) {
            if (place[p] != 0) {
                tree.add(hutKey, treeKeys::member(place[p]),
                         underscoresAsBlanks(users[static_cast<std::size_t>(place[p])].Name));
            } else {
                tree.add(hutKey, treeKeys::emptyPlace(host, p), "Empty");
                if (owner.HutPassword != "NONE")
                    tree.setTag(tree.keyAt(tree.count()), p);
            }
            last = tree.keyAt(tree.count());
            tree.setColours(last, Black, White);
        }
    }
}

} // namespace stonecall
