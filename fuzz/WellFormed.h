#pragma once
// Properties of what the client sends and shows, shared by the fuzz targets.

#include "FuzzCheck.h"
#include "platform/TreeView.h"
#include "session/UserTable.h"
#include "wire/Numbers.h"
#include "wire/Wire.h"

#include <string>
#include <string_view>

namespace stonecall::testing {

// One message as the client sends it (without its end mark): a known keyword with the
// number of fields it takes, and no end mark inside.
inline bool isWellFormedClientMessage(std::string_view message)
{
    if (message.find(MsgEnd) != std::string_view::npos)
        return false;
    const auto fields = splitFields(message);
    const std::string_view keyword = fields[0];
    const std::size_t n = fields.size();
    if (keyword == "VERSION")
        return n == 2 && fields[1] == "1";
    if (keyword == "LOGIN")
        return n == 3;
    if (keyword == "VERIFY")
        return n == 2 && strictNumber<std::int32_t>(fields[1]).has_value();
    if (keyword == "SENDMSG")
        return n == 2;
    if (keyword == "BEHOST" || keyword == "BECLIENT")
        return n == 3;
    return n == 1 && (keyword == "GETUSERLIST" || keyword == "MOTD" || keyword == "PINGREPLY" ||
                      keyword == "BEIDLE" || keyword == "LOGOUT");
}

// The user tree shows exactly the entries that have a name, under the right group, and each
// group's text counts them.
inline void checkTreesMatchTable(const UserTable& users, const TreeView& tree)
{
    if (tree.count() == 0)
        return; // no update has run yet
    std::size_t waiting = 0, playing = 0;
    for (int i = 0; i <= users.MaxUserIndex(); ++i) {
        const UserInfo& user = users[static_cast<std::size_t>(i)];
        const std::string key = "u" + std::to_string(i);
        if (user.Name.empty())
            continue;
        // An entry named by a message that did not update the tree yet (CREATEHOST) may sit in
        // its old group; it must still be listed.
        FUZZ_CHECK(tree.contains(key));
        (tree.parentKey(key) == "p" ? playing : waiting) += 1;
    }
    for (const std::string& group : {std::string("w"), std::string("p")})
        for (const std::string& key : tree.childKeys(group)) {
            const auto index = strictNumber<std::int32_t>(std::string_view(key).substr(1));
            FUZZ_CHECK(index && users.contains(*index) &&
                       !users[static_cast<std::size_t>(*index)].Name.empty());
        }
    FUZZ_CHECK(tree.text("w") == "Waiting: " + std::to_string(waiting));
    FUZZ_CHECK(tree.text("p") == "Playing: " + std::to_string(playing));
}

} // namespace stonecall::testing
