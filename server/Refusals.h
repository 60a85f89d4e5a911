#pragma once
// Why the lobby turns a connection or a log-in away: the reasons counted for the operator's
// figures, and the words for the log and for the player, all in one place.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace stonecall::server {

enum class Refusal : std::uint8_t {
    NameInUse,
    UnusableName, // also reserved, or read as an address
    Banned,
    LobbyFull,
    TooManyConnections, // also too many still logging in
    TooManyLogins,
    LoginDeadline, // no LOGIN in time
    Crowded,       // let go to make room for a newer connection
};
inline constexpr std::size_t RefusalKinds = 8;
using RefusalCounts = std::array<std::uint64_t, RefusalKinds>;

struct RefusalText {
    Refusal reason;
    std::string_view log;            // for the operator
    std::string_view notice;         // for the player, as the lobby's own line
    std::string_view banReason = {}; // the operator's words, when a ban refused it

    // What the player reads.
    std::string told() const
    {
        return banReason.empty() ? std::string(notice)
                                 : std::string(notice) + " Reason: " + std::string(banReason);
    }
};

namespace refused {
inline constexpr RefusalText TooManyConnections{
    Refusal::TooManyConnections, "refused: too many connections from this address",
    "Connection refused: too many connections from your address."};
inline constexpr RefusalText TooManyPending{
    Refusal::TooManyConnections, "refused: too many connections logging in from this address",
    "Connection refused: too many connections from your address are logging in."};
inline constexpr RefusalText TooManyLogins{
    Refusal::TooManyLogins, "refused: too many log-ins from this address",
    "Log-in refused: too many log-ins from your address. Try again in a minute."};
inline constexpr RefusalText BannedAddress{
    Refusal::Banned, "refused: banned address",
    "Log-in refused: your address is banned from this lobby."};
inline constexpr RefusalText UnusableName{
    Refusal::UnusableName, "refused: unusable name",
    "Log-in refused: that name cannot be used. Choose another."};
inline constexpr RefusalText AddressName{
    Refusal::UnusableName, "refused: name reads as an address",
    "Log-in refused: a name may not read as a network address. Choose another."};
inline constexpr RefusalText BannedName{Refusal::Banned, "refused: banned name",
                                        "Log-in refused: that name is banned from this lobby."};
inline constexpr RefusalText ReservedName{
    Refusal::UnusableName, "refused: reserved name",
    "Log-in refused: that name is kept for the lobby. Choose another."};
inline constexpr RefusalText NameInUse{Refusal::NameInUse, "refused: name in use",
                                       "Log-in refused: that name is in use. Choose another."};
inline constexpr RefusalText LobbyFull{Refusal::LobbyFull, "refused: lobby full",
                                       "Log-in refused: the lobby is full. Try again later."};
inline constexpr RefusalText LoginDeadline{Refusal::LoginDeadline, "dropped: no log-in in time",
                                           "Disconnected: no log-in in the time allowed."};
inline constexpr RefusalText Crowded{Refusal::Crowded,
                                     "dropped: the oldest log-in, to make room for a newer one",
                                     "Disconnected: the lobby is busy with log-ins. Try again."};
} // namespace refused

// A short name for figures ("name_in_use").
inline std::string_view refusalLabel(Refusal reason)
{
    static constexpr std::array<std::string_view, RefusalKinds> labels = {
        "name_in_use",          "unusable_name",   "banned",         "lobby_full",
        "too_many_connections", "too_many_logins", "login_deadline", "crowded"};
    return labels[static_cast<std::size_t>(reason)];
}

} // namespace stonecall::server
