#pragma once
// The operator's commands against the lobby, one line each, as the control socket hands them
// over. A line is UTF-8, its fields separated by tabs (which no name or text may hold); the
// reply is zero or more data lines, each starting with "- ", then one line starting with "ok"
// or "error". Texts reach the lobby in its single-byte character set, held to the rules of
// the wire, so nothing an operator types can break a message or hide in one.
//
//   kick NAME [REASON] | ban[-name|-address] TARGET [SECONDS|- [REASON]]
//   unban[-name|-address] TARGET | mute NAME [SECONDS] | unmute NAME
//   notice TEXT | bans | who | stats | help
//
// The bare ban and unban take TARGET as an address (or range) when it reads as one and no
// user logged in or banned goes by that name, and as a name otherwise; ban-name and
// ban-address say which.

#include "Lobby.h"

#include <functional>
#include <string>
#include <string_view>

namespace stonecall::server {

// Longest command line, line feed included: room for the longest notice in UTF-8.
inline constexpr std::size_t MaxControlLine = 4096;
// Longest ban or mute, in seconds: ten years.
inline constexpr long long MaxControlSeconds = 10LL * 365 * 86400;

class Control {
public:
    // `figures` gives the lobby's figures as stats prints them (Stats.h); none: stats is
    // refused.
    explicit Control(Lobby& lobby, std::function<std::string()> figures = {})
        : lobby_(lobby), figures_(std::move(figures))
    {}

    // One line without its line feed; the reply, each line ending in a line feed.
    std::string execute(std::string_view line);

private:
    Lobby& lobby_;
    std::function<std::string()> figures_;
};

} // namespace stonecall::server
