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

    // Connections open at once and log-ins per minute from one address; 0: no limit.
    // Loopback addresses are exempt unless limitLoopback is set (local tools and tests).
    int connectionsPerAddress = 8;
    int loginsPerAddressPerMinute = 20;
    bool limitLoopback = false;

    // Longest name in bytes (at most the protocol's 64), and names nobody may take,
    // compared after folding case and blanks.
    std::size_t maxNameLength = 64;
    std::vector<std::string> reservedNames = {"NONE",   "admin", "administrator", "operator",
                                              "server", "lobby", "moderator"};
};

} // namespace stonecall::server
