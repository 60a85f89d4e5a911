#pragma once
// Who may come in: connections open at once, still logging in, and log-ins per minute from
// one address (an IPv6 peer by its network), names that are banned, unusable, reserved or
// read as addresses, and addresses that are banned; and the chat allowance, which belongs to
// the address and to the name, so neither a new log-in nor a second name brings a fresh
// burst. Loopback addresses are exempt from the per-address limits unless the limits say
// otherwise.

#include "BanList.h"
#include "LobbyLimits.h"
#include "Refusals.h"
#include "TokenBucket.h"
#include "User.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace stonecall::server {

class Admission {
public:
    using Clock = std::chrono::steady_clock;

    // `limits` and `bans` are the lobby's, read as they stand at each decision.
    Admission(const LobbyLimits& limits, BanList& bans, std::function<Clock::time_point()> clock);

    // The key `address` counts under.
    std::string keyOf(std::string_view address) const;

    // A connection from `address` (counted under `key`) opens and starts logging in: why not,
    // when that address has as many as it may, and then it is not counted. Empty addresses
    // (tests) are never counted.
    std::optional<RefusalText> open(std::string_view address, const std::string& key);
    // It logged in: one fewer still logging in.
    void loggedIn(const std::string& key);
    void close(const std::string& key, bool pending);

    // Connections still logging in, oldest first: the oldest goes to make room for a
    // newcomer, and none may take longer than the log-in deadline. arrived() gives the
    // connection's place, which settled() takes once it logged in or left.
    std::uint64_t arrived(ConnectionId id);
    void settled(std::uint64_t place) { pending_.erase(place); }
    std::optional<ConnectionId> oldestPending() const;
    // The oldest connection still logging in past the deadline; none when no deadline is set.
    std::optional<ConnectionId> overdue() const;
    std::size_t pendingCount() const { return pending_.size(); }

    // Why a log-in as `name` (whose key is `nameKey`) from `address` is refused, checked in
    // the order a player would want to hear them; nothing when it may go on. A log-in that
    // passes the rate counts against its address.
    std::optional<RefusalText> refusal(std::string_view address, const std::string& key,
                                       std::string_view name, const std::string& nameKey,
                                       WallClock::time_point now);

    // The chat allowance of a user in the lobby, kept by name and address from its log-in to
    // its log-out, and after that until it is full again.
    void joined(const std::string& nameKey, std::string_view address, const std::string& key);
    void left(const std::string& nameKey, std::string_view address, const std::string& key);
    // True, and a token fewer of each, when both the name and the address have one.
    bool chat(const std::string& nameKey, std::string_view address, const std::string& key);

    // Log-in times older than the window count no more; allowances of users gone that are
    // full again are forgotten, and the oldest go when there are too many.
    void forgetOld();
    std::size_t allowanceCount() const { return allowances_.size(); }

private:
    struct Open {
        int open = 0;
        int pending = 0;
    };
    struct Allowance {
        TokenBucket bucket;
        int holders = 0; // users in the lobby under this name or address
    };

    bool limited(std::string_view address) const;
    bool loginAllowed(std::string_view address, const std::string& key);
    void hold(const std::string& key);
    void release(const std::string& key);

    const LobbyLimits& limits_;
    BanList& bans_;
    std::function<Clock::time_point()> clock_;
    std::unordered_set<std::string> reserved_; // name keys, as the lobby started
    std::map<std::string, Open, std::less<>> openPerAddress_;
    std::map<std::string, std::deque<Clock::time_point>> loginsPerAddress_;
    // "n" and a name key, "a" and an address key.
    std::unordered_map<std::string, Allowance> allowances_;
    struct Pending {
        ConnectionId id;
        Clock::time_point since;
    };
    std::map<std::uint64_t, Pending> pending_;
    std::uint64_t arrivals_ = 0;
};

} // namespace stonecall::server
