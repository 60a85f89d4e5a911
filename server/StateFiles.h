#pragma once
// What the lobby keeps across a restart, in files of its state folder: the operator's bans, and
// the highest user index handed out (a client that comes back still holds the entries of its
// last visit, and the next run's user lists must free them).

#include "BanList.h"
#include "Floor.h"

#include <cstdint>
#include <string>

namespace stonecall::server {

class StateFiles {
public:
    // An empty folder keeps nothing.
    StateFiles(std::string folder, Floor& floor) : folder_(std::move(folder)), floor_(floor) {}

    // Reads what an earlier run kept: the bans into `bans`; the highest index it handed out
    // (0 when none). What cannot be read is skipped and noted.
    std::int16_t load(BanList& bans, WallClock::time_point now);
    // Empty when kept; otherwise why not.
    std::string saveBans(const BanList& bans);
    // Writes the highest index when it rose above what is kept.
    void saveHighestIndex(std::int16_t highest);

private:
    std::string folder_;
    Floor& floor_;
    std::int16_t savedHighestIndex_ = 0;
};

} // namespace stonecall::server
