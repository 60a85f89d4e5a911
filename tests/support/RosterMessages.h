#pragma once
// What the server's USER, USERSTATE and CREATEHOST messages write into the user table, for
// tests and benchmarks of the trees. Messages the table cannot take change nothing. The trees
// given last are told which entry changed, as the dispatcher tells them.

#include "session/UserTable.h"

#include <optional>
#include <string>
#include <string_view>

namespace stonecall {

template <typename... Trees>
void applyUser(UserTable& users, long index, std::string_view name, std::string_view extra,
               Trees&... trees)
{
    if (index < 0 || index > 32767)
        return;
    users.growTo(static_cast<std::int16_t>(index));
    UserInfo& user = users.edit(static_cast<std::size_t>(index));
    user.Name = name == "NONE" ? std::string() : std::string(name);
    user.Extra = extra;
    (trees.entryChanged(static_cast<std::int32_t>(index)), ...);
}

// The fourth field as a number, the fifth as text (a place number for "CLIENT", the password
// for "HOST").
template <typename... Trees>
void applyUserState(UserTable& users, long index, std::string_view state,
                    std::optional<std::int32_t> fourth = std::nullopt,
                    std::optional<std::string> fifth = std::nullopt, Trees&... trees)
{
    if (!users.contains(index) || (state == "HOST" && !fifth))
        return;
    UserInfo& user = users.edit(static_cast<std::size_t>(index));
    user.State = state;
    if (state == "CLIENT") {
        user.JoinedHost = fourth.value_or(0);
        if (fifth)
            user.Slot = std::stoi(*fifth);
    } else if (state == "HOST") {
        user.HutSize = fourth.value_or(0);
        user.HutPassword = *fifth;
    }
    (trees.entryChanged(static_cast<std::int32_t>(index)), ...);
}

template <typename... Trees> void applyCreateHost(UserTable& users, long index, Trees&... trees)
{
    if (!users.contains(index))
        return;
    users.edit(static_cast<std::size_t>(index)).State = "HOST";
    (trees.entryChanged(static_cast<std::int32_t>(index)), ...);
}

} // namespace stonecall
