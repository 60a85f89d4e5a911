#pragma once
// Who may come in: connections open at once and log-ins per minute from one address, names that
// are banned, unusable or reserved, and addresses that are banned. Loopback addresses are exempt
// from the per-address limits unless the limits say otherwise.

#include "BanList.h"
#include "LobbyLimits.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace stonecall::server {

class Admission {
public:
    using Clock = std::chrono::steady_clock;

    // `limits` and `bans` are the lobby's, read as they stand at each decision.
    Admission(const LobbyLimits& limits, BanList& bans, std::function<Clock::time_point()> clock);

    // A connection from `address` opens: false when that address has as many as it may, and
    // then it is not counted. Empty addresses (tests) are never counted.
    bool open(std::string_view address);
    void close(std::string_view address);

    // Why a log-in as `name` (whose key is `key`) from `address` is refused, checked in the
    // order a player would want to hear them; nothing when it may go on. A log-in that passes
    // the rate counts against its address.
    std::optional<std::string_view> refusal(const std::string& address, std::string_view name,
                                            const std::string& key, WallClock::time_point now);

    // Log-in times older than the window count no more.
    void forgetOld();

private:
    bool limited(std::string_view address) const;
    bool loginAllowed(const std::string& address);

    const LobbyLimits& limits_;
    BanList& bans_;
    std::function<Clock::time_point()> clock_;
    std::unordered_set<std::string> reserved_; // name keys, as the lobby started
    std::map<std::string, int, std::less<>> openPerAddress_;
    std::map<std::string, std::deque<Clock::time_point>> loginsPerAddress_;
};

} // namespace stonecall::server
