#pragma once
// Properties of what the lobby server sends and holds, shared by the server fuzz target.

#include "FuzzCheck.h"
#include "Lobby.h"
#include "Notices.h"
#include "Rules.h"
#include "wire/CharClass.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::testing {

// A number as the server writes it: optional "-", digits, no leading zero, within [low, high].
inline bool isPlainNumber(std::string_view field, long low, long high)
{
    std::string_view digits = field;
    if (!digits.empty() && digits.front() == '-')
        digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits.front() == '0'))
        return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const long value = std::stol(std::string(field));
    return value >= low && value <= high;
}

// Encoded chat text: pairs of hexadecimal digits.
inline bool isEncoded(std::string_view field)
{
    return field.size() % 2 == 0 && std::all_of(field.begin(), field.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

// One message as the server sends it (without its end mark): a keyword of the server's
// catalogue with the fields a client reads, each in the form the client can take.
inline bool isWellFormedServerMessage(std::string_view message)
{
    using namespace stonecall::server;
    if (message.empty() || message.find(MsgEnd) != std::string_view::npos)
        return false;
    const auto f = splitFields(message);
    const std::string_view keyword = f[0];
    const std::size_t n = f.size();
    if (keyword == "VERSION")
        return n == 2 && (f[1] == "GOOD" || f[1] == "BAD");
    if (keyword == "LOGIN")
        return n == 2 && isPlainNumber(f[1], 1, MaxUsersLimit);
    if (keyword == "USER")
        return n == 4 && isPlainNumber(f[1], 0, MaxUsersLimit) &&
               (f[2] == "NONE" || acceptableName(f[2])) && f[3].empty();
    if (keyword == "USERSTATE") {
        if (n < 3 || !isPlainNumber(f[1], 1, MaxUsersLimit))
            return false;
        if (f[2] == "HOST")
            return n == 5 && isPlainNumber(f[3], 2, 4) && !f[4].empty() &&
                   f[4].size() <= MaxPasswordLength;
        if (f[2] == "CLIENT")
            return n == 5 && isPlainNumber(f[3], 1, MaxUsersLimit) && isPlainNumber(f[4], 1, 3) &&
                   f[3] != f[1];
        return n == 3 && f[2] == "IDLE";
    }
    if (keyword == "MOTDLINE")
        return n == 2 && isEncoded(f[1]);
    if (keyword == "MSG")
        return n == 3 && f[1].size() > 2 && f[1].substr(f[1].size() - 2) == ": " &&
               acceptableName(f[1].substr(0, f[1].size() - 2)) && isEncoded(f[2]) &&
               f[2].size() <= 2 * MaxChatCharacters;
    if (keyword == "VERIFY")
        return n == 2 && isPlainNumber(f[1], MinChallenge, MaxChallenge);
    if (keyword == "PUBMSG")
        return n == 3 && f[1] == NoticeSender && !f[2].empty() &&
               std::none_of(f[2].begin(), f[2].end(), [](char c) {
                   return stonecall::isInvisibleCode(static_cast<unsigned char>(c));
               });
    return n == 1 && (keyword == "ENDUSERS" || keyword == "PING");
}

// The fields of the USERSTATE that describes a user's present state.
inline std::vector<std::string> stateFields(const server::Lobby::User& user, int index)
{
    using State = server::Lobby::State;
    const std::string i = std::to_string(index);
    switch (user.state) {
    case State::Host:
        return {"USERSTATE", i, "HOST", std::to_string(user.hutSize), user.password};
    case State::Client:
        return {"USERSTATE", i, "CLIENT", std::to_string(user.host), std::to_string(user.place)};
    case State::Idle:
        break;
    }
    return {"USERSTATE", i, "IDLE"};
}

// The lobby's own bookkeeping: every entry is free or held by one logged-in connection,
// names are unique, and huts and their members point at each other within the hut's size.
inline void checkLobbyInvariants(const server::Lobby& lobby)
{
    using namespace stonecall::server;
    using State = Lobby::State;
    const auto& users = lobby.users();
    const auto& freed = lobby.freedIndexes();
    FUZZ_CHECK(!users.empty() && users[0].connection == 0 && users[0].name.empty());
    FUZZ_CHECK(users.size() <= static_cast<std::size_t>(MaxUsersLimit) + 1);
    FUZZ_CHECK(freed.empty() ||
               (*freed.begin() >= 1 && static_cast<std::size_t>(*freed.rbegin()) < users.size()));

    std::size_t pending = 0;
    for (const auto& [id, c] : lobby.connections()) {
        FUZZ_CHECK(id != 0);
        FUZZ_CHECK(c.input.size() <= MaxMessageLength);
        if (c.phase != Lobby::Phase::LoggedIn) {
            FUZZ_CHECK(c.index == 0);
            ++pending;
            continue;
        }
        FUZZ_CHECK(c.index >= 1 && static_cast<std::size_t>(c.index) < users.size());
        FUZZ_CHECK(users[static_cast<std::size_t>(c.index)].connection == id);
    }

    FUZZ_CHECK(lobby.pendingCount() == pending); // the oldest log-in is found in that list
    std::size_t taken = 0;
    std::set<std::string> keys;
    for (std::size_t i = 1; i < users.size(); ++i) {
        const Lobby::User& u = users[i];
        const auto index = static_cast<std::int16_t>(i);
        if (u.connection == 0) {
            // A free entry is blank, so the next user starts from nothing.
            FUZZ_CHECK(freed.count(index) == 1);
            FUZZ_CHECK(u.name.empty() && u.state == State::Idle && u.hutSize == 0 && u.host == 0 &&
                       u.place == 0 && u.password.empty());
            FUZZ_CHECK(
                std::all_of(u.places.begin(), u.places.end(), [](auto p) { return p == 0; }));
            continue;
        }
        ++taken;
        FUZZ_CHECK(freed.count(index) == 0);
        const auto it = lobby.connections().find(u.connection);
        FUZZ_CHECK(it != lobby.connections().end() && it->second.phase == Lobby::Phase::LoggedIn &&
                   it->second.index == index);
        FUZZ_CHECK(acceptableName(u.name));
        FUZZ_CHECK(keys.insert(nameKey(u.name)).second);
        FUZZ_CHECK(u.places[0] == 0);
        switch (u.state) {
        case State::Host:
            FUZZ_CHECK(u.hutSize >= 2 && u.hutSize <= 4);
            FUZZ_CHECK(!u.password.empty() && u.password.size() <= MaxPasswordLength);
            FUZZ_CHECK(u.host == 0 && u.place == 0);
            for (int p = 1; p <= 3; ++p) {
                const std::int16_t m = u.places[static_cast<std::size_t>(p)];
                if (m == 0)
                    continue;
                FUZZ_CHECK(p < u.hutSize); // no hut over its size
                FUZZ_CHECK(m >= 1 && static_cast<std::size_t>(m) < users.size() && m != index);
                const Lobby::User& member = users[static_cast<std::size_t>(m)];
                FUZZ_CHECK(member.connection != 0 && member.state == State::Client &&
                           member.host == index && member.place == p);
            }
            break;
        case State::Client: {
            FUZZ_CHECK(u.host >= 1 && static_cast<std::size_t>(u.host) < users.size() &&
                       u.host != index);
            const Lobby::User& host = users[static_cast<std::size_t>(u.host)];
            FUZZ_CHECK(host.connection != 0 && host.state == State::Host); // a member's host hosts
            FUZZ_CHECK(u.place >= 1 && u.place < host.hutSize);
            FUZZ_CHECK(host.places[static_cast<std::size_t>(u.place)] == index);
            FUZZ_CHECK(
                std::all_of(u.places.begin(), u.places.end(), [](auto p) { return p == 0; }));
            break;
        }
        case State::Idle:
            FUZZ_CHECK(u.host == 0 && u.place == 0);
            FUZZ_CHECK(
                std::all_of(u.places.begin(), u.places.end(), [](auto p) { return p == 0; }));
            break;
        }
    }
    FUZZ_CHECK(taken + freed.size() + 1 == users.size());
    FUZZ_CHECK(taken == lobby.userCount());
    FUZZ_CHECK(taken <= static_cast<std::size_t>(lobby.config().maxUsers));
}

} // namespace stonecall::testing
