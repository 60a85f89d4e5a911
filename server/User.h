#pragma once
// One entry of the lobby's user table, as every room of rules sees it. A hut is no record of
// its own: it is its host's entry, and its members are entries that name the host.

#include <array>
#include <cstdint>
#include <string>

namespace stonecall::server {

using ConnectionId = std::uint64_t; // 0 is never a connection

inline constexpr int MaxUsersLimit = 32767; // clients keep indexes as 16-bit numbers

enum class UserState : std::uint8_t { Idle, Host, Client };

// Kept for thousands of users: the fields are ordered so that nothing is lost to padding.
struct User {
    ConnectionId connection = 0; // 0: free, or on its way out
    std::string name;
    std::string password;
    std::array<std::int16_t, 4> places{}; // a host's members by place 1 to 3, 0 empty
    std::int16_t host = 0;                // a member's host
    UserState state = UserState::Idle;
    std::int8_t hutSize = 0;
    std::int8_t place = 0;  // a member's place
    bool toldMuted = false; // this log-in has heard that its lines are not relayed
};

} // namespace stonecall::server
