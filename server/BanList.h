#pragma once
// The operator's bans, by name and by address, each until a time or until lifted. The list is
// kept in a file of the state folder, so a restart lifts none of them; a ban whose time is up
// is forgotten where it is met.

#include "Address.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::server {

using WallClock = std::chrono::system_clock;

enum class BanKind { Name, Address };

struct Ban {
    BanKind kind = BanKind::Name;
    std::string target;                         // the name as the operator gave it, or the address
    std::optional<WallClock::time_point> until; // none: until lifted
    std::string reason; // the operator's words for the banned player, in the lobby's characters
};

// Longest reason a ban keeps, and longest line of the bans file: a line longer than any ban
// can be is not one.
inline constexpr std::size_t MaxBanReason = 200;
inline constexpr std::size_t MaxBanLine = 512;

// What reading the bans file found.
struct BanFileReport {
    std::size_t loaded = 0;            // bans in force now
    std::size_t ignored = 0;           // lines that are no ban
    std::vector<std::string> problems; // the first few ignored lines: "line 3: why"
    // Set when the file cannot be read, or holds more bans than the list keeps: the list
    // must not be written over it.
    std::optional<std::string> error;
};

class BanList {
public:
    // An operator's list is short; the bound keeps a runaway script from filling memory and disk.
    static constexpr std::size_t MaxBans = 10000;

    // What an address ban holds, as the list keeps and shows it, from the operator's text: an
    // IPv4 address; a range in CIDR form, host bits cleared ("203.0.113.0/24",
    // "2001:db8::/32"); an IPv6 address stands for its network of `ipv6Prefix` bits (a /64:
    // the network one subscriber is handed), as the per-address limits count it. Nothing
    // when the text is none of these.
    static std::optional<std::string> addressTarget(std::string_view text,
                                                    int ipv6Prefix = DefaultIpv6Prefix);
    // Whether an address ban's target (as addressTarget gives it) covers a peer's address.
    static bool covers(std::string_view target, std::string_view address);

    // The ban that holds for a name (compared as log-ins compare names) or a peer's address
    // now: for an address, the ban on it or on any range that holds it.
    const Ban* find(BanKind kind, std::string_view target, WallClock::time_point now);
    const Ban* match(std::string_view address, WallClock::time_point now)
    {
        return find(BanKind::Address, address, now);
    }
    // Sets a ban, replacing one on the same target; false when the list is full.
    bool add(Ban ban);
    bool remove(BanKind kind, std::string_view target);
    // Every ban still in force, names first.
    std::vector<Ban> list(WallClock::time_point now);

    // Reads the file, a line at a time (a missing one is an empty list); lines that hold no
    // ban are skipped and reported.
    BanFileReport load(const std::filesystem::path& file, WallClock::time_point now);
    // Writes the list beside the file and renames it into place; a message on failure.
    std::optional<std::string> save(const std::filesystem::path& file) const;

private:
    using Bans = std::map<std::string, Ban>;
    static std::string key(BanKind kind, std::string_view target);
    void prune(WallClock::time_point now);
    // Every change to the map goes through these, so the prefix counts stay right.
    void put(std::string key, Ban ban);
    Bans::iterator erase(Bans::iterator it);
    void count(const Ban& ban, int by);
    const Ban* inForce(Bans::iterator it, WallClock::time_point now);

    Bans bans_;
    // Address bans by prefix length (IPv4 0 to 32, IPv6 0 to 128), so a peer is looked up
    // under the few lengths in use only.
    std::array<int, 129> v4Prefixes_{};
    std::array<int, 129> v6Prefixes_{};
};

// A time as the log and the operator read it: UTC, to the second.
std::string utcText(WallClock::time_point time);

} // namespace stonecall::server
