#pragma once
// How a user name reads on screen: clients show every "_" as a blank, so two names that
// differ only there look the same to players.

#include <algorithm>
#include <string>
#include <string_view>

namespace stonecall {

inline std::string spacedName(std::string_view Name)
{
    std::string shown(Name);
    std::replace(shown.begin(), shown.end(), '_', ' ');
    return shown;
}

} // namespace stonecall
