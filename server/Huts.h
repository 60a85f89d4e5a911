#pragma once
// The hut rules: a user opens a hut of 2 to 4 places, open or behind a password; others take
// its free places; a host going idle or leaving empties its hut first, since clients redraw a
// hut only when a state changes. Every change is told to everyone as a USERSTATE.

#include "Floor.h"
#include "User.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::server {

class Huts {
public:
    Huts(std::vector<User>& users, Floor& floor) : users_(users), floor_(floor) {}

    // BEHOST, BECLIENT and BEIDLE from user `me` (fields as received, keyword first).
    void beHost(std::int16_t me, const std::vector<std::string_view>& fields);
    void beClient(std::int16_t me, const std::vector<std::string_view>& fields);
    void beIdle(std::int16_t me);
    // The user leaves the lobby: its hut closes or its place frees, and everyone hears it.
    void leaveLobby(std::int16_t index);

    // The USERSTATE message of a user, alone or appended to a list.
    std::string stateMessage(std::int16_t index) const;
    void appendState(std::string& text, std::int16_t index) const;

private:
    bool isUser(long index) const;
    void leaveHut(std::int16_t member);
    void closeHut(std::int16_t host);
    // A refusal: the reason, and the asking client's unchanged state so it resets its buttons.
    void refuse(std::int16_t me, std::string_view notice);

    std::vector<User>& users_;
    Floor& floor_;
};

} // namespace stonecall::server
