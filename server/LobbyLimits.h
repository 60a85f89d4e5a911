#pragma once
// What one user or one address may do, in one place so the configuration can set it.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace stonecall::server {

struct LobbyLimits {
    // Chat per user as a token bucket: a line takes a token, tokens come back at this rate up
    // to the burst. A line without a token is not relayed and its sender is told.
    double chatLinesPerSecond = 1.0;
    int chatBurst = 8;
    // Lines refused in a row (no line relayed between them) that end the connection.
    int floodDisconnectAfter = 30;

    // Connections open at once, of them still logging in, and log-ins per minute from one
    // address; 0: no limit. An IPv6 address counts by its first ipv6Prefix bits. Loopback
    // addresses are exempt unless limitLoopback is set (a server behind a local proxy).
    int connectionsPerAddress = 8;
    int pendingPerAddress = 4;
    int loginsPerAddressPerMinute = 20;
    int ipv6Prefix = 64;
    bool limitLoopback = false;

    // From accept to LOGIN at most this long; and connections beyond the users in and this
    // many more make room by letting the oldest one still logging in go.
    std::chrono::seconds loginDeadline{10};
    int pendingRoom = 64;

    // User lists a connection may ask for, at once and then per second: the largest answer
    // to the shortest request (a client asks once, at log-in). Requests beyond are not
    // answered; a rate of 0: no limit.
    double userListsPerSecond = 0.2;
    int userListBurst = 3;

    // Longest name in bytes (at most the protocol's 64), and names nobody may take,
    // compared after folding case and blanks.
    std::size_t maxNameLength = 64;
    std::vector<std::string> reservedNames = {"NONE",   "admin", "administrator", "operator",
                                              "server", "lobby", "moderator"};
};

} // namespace stonecall::server
