#pragma once
// What the lobby keeps across a restart, in files of its state folder: the operator's bans, and
// the highest user index handed out (a client that comes back still holds the entries of its
// last visit, and the next run's user lists must free them).
//
// Nothing kept may be lost: a file that is there but cannot be read is an error the server
// does not start with (writing over it would destroy what it holds), and the folder is locked
// for as long as the lobby runs, so a second server given it refuses to start instead of
// writing over the first one's bans.

#include "BanList.h"
#include "Floor.h"
#include "RegularFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::server {

// What reading the state folder found, for the log once it is attached.
struct StateReport {
    struct Note {
        LogLevel level;
        std::string text; // one line of the log, bounded in length
    };
    std::vector<Note> notes;
    // Set when the lobby must not run on this folder (a file that cannot be read, a folder
    // another server holds); the path first. Nothing is written to the folder then.
    std::optional<std::string> error;
};

// Why a change is not kept when the server was given no state folder: the operator's choice,
// not a fault.
inline constexpr std::string_view NoStateFolder = "no state-dir";

class StateFiles {
public:
    // An empty folder keeps nothing.
    StateFiles(std::string folder, Floor& floor) : folder_(std::move(folder)), floor_(floor) {}

    // Locks the folder and reads what an earlier run kept: the bans into `bans`, and the
    // highest index it handed out (see earlierHighestIndex()). Says what it found in report().
    void load(BanList& bans, WallClock::time_point now);
    const StateReport& report() const { return report_; }
    std::int16_t earlierHighestIndex() const { return savedHighestIndex_; }

    // Empty when kept; otherwise why not.
    std::string saveBans(const BanList& bans);
    // Writes the highest index when it rose above what is kept.
    void saveHighestIndex(std::int16_t highest);

private:
    void note(LogLevel level, std::string text)
    {
        report_.notes.push_back({level, std::move(text)});
    }
    void loadHighestIndex();

    std::string folder_;
    Floor& floor_;
    std::int16_t savedHighestIndex_ = 0;
    StateReport report_;
    FileDescriptor lock_; // the folder, locked while this lobby runs
    // The bans file held lines that were no ban: the first rewrite keeps it aside.
    bool keepEarlierBans_ = false;
};

} // namespace stonecall::server
