#pragma once
// The operator's bans, by name and by address, each until a time or until lifted. The list is
// kept in a file of the state folder, so a restart lifts none of them; a ban whose time is up
// is forgotten where it is met.

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

    // The ban that holds for a name (compared as log-ins compare names) or an address now.
    const Ban* find(BanKind kind, std::string_view target, WallClock::time_point now);
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
    static std::string key(BanKind kind, std::string_view target);
    void prune(WallClock::time_point now);

    std::map<std::string, Ban> bans_;
};

// A time as the log and the operator read it: UTC, to the second.
std::string utcText(WallClock::time_point time);

} // namespace stonecall::server
