#pragma once
// How a user's name is shown in the trees.

#include "session/UserTable.h"
#include "wire/DisplayName.h"

#include <string>

namespace stonecall {

// The user tree's text: the spaced name, followed by the remark in parentheses unless the
// remark is empty or one of the words that mean "nothing to say".
inline std::string displayName(const UserInfo& user)
{
    std::string shown = spacedName(user.Name);
    if (!user.Remark.empty() && user.Remark != "back" && user.Remark != "none")
        shown += " (" + user.Remark + ")";
    return shown;
}

} // namespace stonecall
