#pragma once
// The operator's moderation: kick, ban and mute, and what the user concerned is told. Names are
// matched as log-ins match them, after folding case and blanks. Bans are kept in the state
// folder; mutes last for this run.

#include "BanList.h"
#include "Floor.h"
#include "StateFiles.h"
#include "User.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::server {

class Moderation {
public:
    using Clock = std::chrono::steady_clock;

    struct Affected {
        std::string name;
        std::string address;
    };
    struct BanResult {
        bool full = false;             // the list has no room: nothing changed
        std::vector<Affected> dropped; // logged-in users it sent away
        std::string notKept;           // why it does not outlive a restart, when it does not
    };

    struct Clocks {
        std::function<Clock::time_point()> steady;   // mutes
        std::function<WallClock::time_point()> wall; // bans, which outlive a restart
    };

    Moderation(std::vector<User>& users, Floor& floor, BanList& bans, StateFiles& files,
               Clocks clocks)
        : users_(users), floor_(floor), bans_(bans), files_(files), clocks_(std::move(clocks))
    {}

    // Nothing when nobody by that name is logged in. A reason, when given, is told to the
    // user sent away (and, for a ban, kept with it, so a later log-in is told it too).
    std::optional<Affected> kick(std::string_view name, std::string_view reason = {});
    BanResult ban(BanKind kind, std::string_view target, std::optional<std::chrono::seconds> length,
                  std::string_view reason = {});
    // False when there was no such ban; `notKept` as for ban().
    bool unban(BanKind kind, std::string_view target, std::string& notKept);
    std::vector<Ban> bans() { return bans_.list(clocks_.wall()); }

    // A muted user's chat lines are not relayed; the user is told at once, and on a later
    // log-in at its first line (see toldMuted). Nothing when nobody by that name is logged in
    // (or the mutes in force are as many as can be).
    std::optional<Affected> mute(std::string_view name, std::optional<std::chrono::seconds> length);
    bool unmute(std::string_view name);
    bool muted(std::string_view name);
    // True when the user's chat line is not to be relayed: the user is muted. Its log-in is
    // told why once.
    bool silenced(std::int16_t index);

private:
    std::int16_t findUser(std::string_view name) const;
    Affected sendAway(std::int16_t index, std::string_view notice, std::string_view why);

    std::vector<User>& users_;
    Floor& floor_;
    BanList& bans_;
    StateFiles& files_;
    Clocks clocks_;
    // Muted name keys, each until a time or until lifted.
    std::map<std::string, std::optional<Clock::time_point>> mutes_;
};

} // namespace stonecall::server
