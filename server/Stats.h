#pragma once
// The lobby's figures for monitoring, as `stonecall-lobbyctl stats` prints them: the
// Prometheus text exposition format, each figure with its # HELP and # TYPE lines, named
// stonecall_..., so a timer can hand them to a node exporter's text-file collector.

#include <cstdint>
#include <map>
#include <string>

namespace stonecall::server {

struct LobbyFigures {
    std::uint64_t users = 0;
    std::uint64_t connections = 0;
    std::uint64_t loggingIn = 0; // connections not logged in yet
    std::uint64_t messagesIn = 0, bytesIn = 0;
    std::uint64_t messagesOut = 0, bytesOut = 0;
    std::map<std::string, std::uint64_t> refusals; // refused log-ins by reason (a word each)
    std::uint64_t bans = 0;
    std::uint64_t residentBytes = 0;
};

// One figure a line, every line ending in a line feed.
std::string prometheusText(const LobbyFigures& figures);

// The resident memory of this process, from /proc/self/statm; 0 when unknown.
std::uint64_t residentBytes();

} // namespace stonecall::server
