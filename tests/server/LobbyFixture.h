#pragma once
// The socket-free lobby under test: an outbox that records what the lobby says, drops and
// notes, fake clocks, and the client's side of a log-in.

#include "Lobby.h"

#include "WireMessages.h"
#include "wire/Wire.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace stonecall::test {

// Log lines as "connection what": the transport, not the lobby, adds the address and name.
struct Recorder : server::Outbox {
    std::map<server::ConnectionId, Messages> sent;
    std::vector<std::pair<server::ConnectionId, server::DropKind>> drops;
    std::vector<std::string> log;

    void send(server::ConnectionId to, std::string_view message) override
    {
        sent[to].emplace_back(message);
    }
    void drop(server::ConnectionId who, server::DropKind how) override
    {
        drops.emplace_back(who, how);
    }
    void note(server::ConnectionId who, server::LogLevel, std::string_view what) override
    {
        log.push_back(who ? std::to_string(who) + " " + std::string(what) : std::string(what));
    }

    Messages take(server::ConnectionId id) { return std::exchange(sent[id], {}); }
    bool dropped(server::ConnectionId id, server::DropKind how = server::DropKind::Close) const
    {
        return std::find(drops.begin(), drops.end(), std::pair(id, how)) != drops.end();
    }
};

inline constexpr std::int16_t Challenge = 100;

class LobbyFixture : public testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    // A fresh lobby, and a fresh recorder; `adjust` changes the tests' usual configuration.
    void start(const std::function<void(server::LobbyConfig&)>& adjust = {})
    {
        server::LobbyConfig config;
        config.maxUsers = 100;
        config.motd = {"Hi", ""};
        config.verifyEveryTicks = 0;
        config.challenge = [] { return Challenge; };
        config.clock = [this] { return now; };
        config.wallClock = [this] { return wallNow; };
        if (adjust)
            adjust(config);
        lobby.reset();
        out = std::make_unique<Recorder>();
        lobby = std::make_unique<server::Lobby>(config, *out);
    }
    void start(server::LobbyLimits limits)
    {
        start([&](server::LobbyConfig& config) { config.limits = limits; });
    }
    void SetUp() override { start(); }

    void send(server::ConnectionId id, const Message& message)
    {
        lobby->bytesReceived(id, message.bytes + MsgEnd);
    }
    // Connects and logs in; the connection id doubles as the expected index in most tests.
    void login(server::ConnectionId id, const std::string& name, const std::string& address = {})
    {
        lobby->connected(id, address);
        send(id, msg("VERSION", {"1"}));
        send(id, msg("LOGIN", {name, "10.0.0.9"}));
    }
    bool loggedIn(server::ConnectionId id) const
    {
        const auto& c = lobby->connections();
        const auto it = c.find(id);
        return it != c.end() && it->second.phase == server::Lobby::Phase::LoggedIn;
    }
    void clear() { out->sent.clear(); }

    Clock::time_point now{std::chrono::hours(1)};
    server::WallClock::time_point wallNow{std::chrono::hours(24 * 365 * 50)};
    std::unique_ptr<Recorder> out;
    std::unique_ptr<server::Lobby> lobby;
};

} // namespace stonecall::test
