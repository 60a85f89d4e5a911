// Random traffic from many connections: an observer that only applies what it hears must hold
// the same lobby as a fresh user list, and the huts it sees must be sound.

#include "Lobby.h"
#include "Rules.h"

#include "wire/Encryptor.h"
#include "wire/Numbers.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <random>
#include <set>

using namespace stonecall;
using namespace stonecall::server;

namespace {

struct Entry {
    std::string name;
    std::vector<std::string> state; // the fields of the last USERSTATE
    bool operator==(const Entry&) const = default;
};
using Table = std::map<int, Entry>; // named entries only

void PrintTo(const Entry& entry, std::ostream* os)
{
    *os << entry.name;
    for (const std::string& field : entry.state)
        *os << '|' << field;
}

struct Observer : Outbox {
    ConnectionId self = 1;
    Table table;  // built from what the observer hears
    Table listed; // built from the last user list it asked for
    bool inList = false;
    std::vector<std::string> pending;        // what to send back (answers to PING and VERIFY)
    std::map<std::string, int> stateChanges; // heard outside lists, by state word
    std::set<ConnectionId> dropped;

    void apply(Table& into, const std::vector<std::string>& f)
    {
        const int index = lenientNumber<std::int32_t>(f.at(1)).value_or(-1);
        if (f[0] == "USER") {
            if (f.at(2) == "NONE")
                into.erase(index);
            else
                into[index].name = f[2];
        } else {
            into[index].state = f;
        }
    }
    void send(ConnectionId to, std::string_view message) override
    {
        if (to != self)
            return;
        std::vector<std::string> fields;
        for (auto field : splitFields(message))
            fields.emplace_back(field);
        const std::string& keyword = fields[0];
        if (keyword == "PING")
            pending.push_back("PINGREPLY");
        else if (keyword == "VERIFY")
            pending.push_back(makeCommand(
                "VERIFY",
                {std::to_string(*verifyResponse(*strictNumber<std::int16_t>(fields.at(1))))}));
        else if (keyword == "ENDUSERS")
            inList = false;
        else if (keyword == "USER" || keyword == "USERSTATE")
            apply(inList ? listed : table, fields);
        if (!inList && keyword == "USERSTATE")
            ++stateChanges[fields.at(2)];
    }
    void drop(ConnectionId who, DropKind) override
    {
        EXPECT_NE(who, self);
        dropped.insert(who);
    }
};

void checkHuts(const Table& table)
{
    std::map<int, std::set<int>> places;
    for (const auto& [index, entry] : table) {
        ASSERT_GE(entry.state.size(), 3u) << index;
        if (entry.state[2] != "CLIENT")
            continue;
        ASSERT_EQ(entry.state.size(), 5u);
        const int host = std::stoi(entry.state[3]);
        const int place = std::stoi(entry.state[4]);
        ASSERT_TRUE(table.count(host)) << "member " << index << " of a gone host " << host;
        const auto& hostState = table.at(host).state;
        ASSERT_EQ(hostState.at(2), "HOST") << "member " << index << " of a non-host";
        EXPECT_GE(place, 1);
        EXPECT_LT(place, std::stoi(hostState.at(3)));
        EXPECT_TRUE(places[host].insert(place).second) << "two members in one place";
    }
}

TEST(LobbyConsistency, WhatClientsHearMatchesAFreshList)
{
    Observer out;
    LobbyConfig config;
    config.maxUsers = 6;
    config.verifyEveryTicks = 2;
    config.challenge = [] { return std::int16_t{100}; };
    config.limits.userListsPerSecond = 0; // the observer's lists are the check
    Lobby lobby(config, out);
    const std::string rightAnswer = makeCommand("VERIFY", {std::to_string(*verifyResponse(100))});
    const auto say = [&](ConnectionId id, const std::string& message) {
        lobby.bytesReceived(id, message + MsgEnd);
    };
    lobby.connected(1);
    say(1, makeCommand("VERSION", {"1"}));
    say(1, makeCommand("LOGIN", {"observer"}));
    say(1, "GETUSERLIST"); // the starting point, as a client logging in takes it

    std::mt19937 random(20240611);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const std::vector<std::string> names = {"ann", "bob", "cid", "dan", "eve", "f_g", "f g"};
    ConnectionId nextId = 2;
    std::vector<ConnectionId> open;

    for (int step = 0; step < 20000; ++step) {
        const int action = pick(0, 99);
        if (action < 10 || open.empty()) {
            const ConnectionId id = nextId++;
            lobby.connected(id);
            open.push_back(id);
            say(id, makeCommand("VERSION", {"1"}));
            say(id, makeCommand("LOGIN", {names[pick(0, 6)], "ip"}));
            continue;
        }
        const ConnectionId id = open[pick(0, static_cast<int>(open.size()) - 1)];
        const std::string someone = std::to_string(pick(0, 8));
        if (action < 30)
            say(id,
                makeCommand("BEHOST", {std::to_string(pick(1, 5)), pick(0, 1) ? "NONE" : "pw"}));
        else if (action < 60)
            say(id,
                makeCommand("BECLIENT", {someone, pick(0, 1) ? "" : std::to_string(pick(0, 4))}));
        else if (action < 75)
            say(id, "BEIDLE");
        else if (action < 78)
            say(id, "LOGOUT");
        else if (action < 81) {
            lobby.disconnected(id);
            out.dropped.insert(id);
        } else if (action < 83)
            lobby.bytesReceived(id, std::string(static_cast<std::size_t>(pick(1, 5000)), 'Z'));
        else if (action < 90)
            say(id, makeCommand("SENDMSG", {EncryptText("hi")}));
        else if (action < 92)
            say(id, makeCommand("VERIFY", {someone}));
        else {
            lobby.tick();
            for (const std::string& answer : std::exchange(out.pending, {}))
                say(1, answer);
            // Most peers answer in time; some fall silent and are dropped.
            for (ConnectionId peer : std::vector<ConnectionId>(open))
                if (pick(0, 9) != 0) {
                    say(peer, "PINGREPLY");
                    say(peer, rightAnswer);
                }
        }
        std::erase_if(open, [&](ConnectionId c) { return out.dropped.count(c) != 0; });

        if (step % 50 == 0) {
            out.listed.clear();
            out.inList = true;
            say(1, "GETUSERLIST");
            ASSERT_FALSE(out.inList);
            ASSERT_EQ(out.table, out.listed) << "step " << step;
            ASSERT_EQ(out.table.size(), lobby.userCount());
            checkHuts(out.table);
            if (HasFatalFailure())
                return;
        }
    }
    // The traffic reached the interesting states often enough to mean something.
    EXPECT_GT(out.stateChanges["HOST"], 500);
    EXPECT_GT(out.stateChanges["CLIENT"], 150);
    EXPECT_GT(out.stateChanges["IDLE"], 500);
}

} // namespace
