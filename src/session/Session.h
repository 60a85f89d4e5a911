#pragma once
// The program-wide values of one client, alive for the whole run.

#include "session/UserTable.h"

#include <cstdint>
#include <string>

namespace stonecall {

struct Session {
    UserTable Users;
    std::string RecvBuffer;   // an unfinished server message, kept between arrivals
    std::int16_t MyIndex = 0; // the local user's entry, from the LOGIN reply
    std::string MyName;       // as typed at log-in
    std::string MyIP;         // local address of the server connection
};

} // namespace stonecall
