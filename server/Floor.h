#pragma once
// What a room of the lobby's rules may ask of the lobby around it: to speak to users, to note
// an event for the operator, and to send a user away. Users are their indexes in the table.

#include "LogLevel.h"

#include <cstdint>
#include <string_view>

namespace stonecall::server {

class Floor {
public:
    // One message to one user; nothing when the user is no longer there.
    virtual void tell(std::int16_t user, std::string_view message) = 0;
    // One message to every user.
    virtual void broadcast(std::string_view message) = 0;
    // An event for the operator's log, about one user (0: about none).
    virtual void note(std::int16_t user, LogLevel level, std::string_view what) = 0;
    // The address the user is connected from (empty when unknown).
    virtual std::string_view address(std::int16_t user) const = 0;
    // Ends the user's connection after what it was told.
    virtual void sendAway(std::int16_t user) = 0;

protected:
    ~Floor() = default;
};

} // namespace stonecall::server
