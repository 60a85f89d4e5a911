#pragma once
// The lobby's rules without sockets. Connections are numbers; their bytes or messages come
// in, and everything the lobby says or decides goes out through an Outbox, so the whole
// protocol can be driven by a test or a fuzzer.

#include "Admission.h"
#include "BanList.h"
#include "Floor.h"
#include "Huts.h"
#include "LobbyLimits.h"
#include "LogLevel.h"
#include "Moderation.h"
#include "RefusalLog.h"
#include "StateFiles.h"
#include "TokenBucket.h"
#include "User.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::server {

enum class DropKind {
    Close, // after what was already sent has gone out (a refusal the client should read)
    Abort, // at once, pending output discarded (misbehaving or dead peers)
};

class Outbox {
public:
    virtual ~Outbox() = default;
    // One message, without MsgEnd.
    virtual void send(ConnectionId to, std::string_view message) = 0;
    // The same message to each of `to`, in that order: the same as send() to each, which a
    // transport may do with less work per reader.
    virtual void broadcast(std::span<const ConnectionId> to, std::string_view message)
    {
        for (const ConnectionId id : to)
            send(id, message);
    }
    // The lobby has let go of the connection and sends nothing more to it.
    virtual void drop(ConnectionId who, DropKind how) = 0;
    // An event for the operator's log, about one connection (0: about none); the transport
    // adds who that is (address, user name).
    virtual void note(ConnectionId, LogLevel, std::string_view) {}
};

inline constexpr std::size_t MaxMessageLength = 4096;

struct LobbyConfig {
    int maxUsers = 1000;
    std::vector<std::string> motd; // plain lines
    // A logged-in connection gets a VERIFY challenge at its first tick and then every this
    // many ticks; 0 sends none.
    int verifyEveryTicks = 10;
    // Draws a challenge; empty: uniformly at random from the range the client can answer.
    std::function<std::int16_t()> challenge;
    LobbyLimits limits;
    // A folder where the lobby keeps what must outlive a restart; empty: nothing is kept.
    std::string stateFolder;
    // The time for rate limits and mutes; empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> clock;
    // The time for bans, which outlive a restart; empty: the system clock.
    std::function<WallClock::time_point()> wallClock;
};

// The table of contents of the server's rules: the phases of a connection (version, log-in,
// pings and challenges) and the user table are kept here, and so is what everyone hears (user
// lists, chat, notices); admission, the huts, moderation and the state files are rooms of
// their own.
class Lobby : private Floor {
public:
    Lobby(LobbyConfig config, Outbox& outbox);

    // A new connection from `address` (empty when unknown, as in tests).
    void connected(ConnectionId id, std::string_view address = {});
    // Raw bytes of a connection, framed here; a message longer than MaxMessageLength drops it.
    void bytesReceived(ConnectionId id, std::string_view bytes);
    // One message already cut into fields (keyword first).
    void messageReceived(ConnectionId id, const std::vector<std::string_view>& fields);
    // The transport lost or gave up the connection; no drop() is reported back for it.
    void disconnected(ConnectionId id);
    // One ping interval has passed: pings, challenges and the drops they decide.
    void tick();
    // Called about once a second, whatever the ping interval: log-ins past their deadline go,
    // the tables that expire are tidied and the refusals summed up are logged.
    void sweep();
    // A notice from the operator to every user (shutdown, broadcast): codes that cannot
    // travel or be seen become blanks, and an empty text sends nothing.
    void announce(std::string_view text);
    // Gives back the room kept for listing a broadcast's readers, once the lobby is quiet: a
    // lobby filling up reuses it, an idle one need not hold it.
    void releaseRoom();

    // A new message of the day and user limit (the configuration reloaded): log-ins from now
    // on see them; nobody already in is sent away.
    void setMotd(std::vector<std::string> motd) { config_.motd = std::move(motd); }
    void setMaxUsers(int maxUsers);
    void setLimits(LobbyLimits limits) { config_.limits = std::move(limits); }

    // The operator's moderation (through the control socket).
    using Affected = Moderation::Affected;
    using BanResult = Moderation::BanResult;
    std::optional<Affected> kick(std::string_view name, std::string_view reason = {})
    {
        return moderation_.kick(name, reason);
    }
    BanResult ban(BanKind kind, std::string_view target, std::optional<std::chrono::seconds> length,
                  std::string_view reason = {})
    {
        return moderation_.ban(kind, target, length, reason);
    }
    bool unban(BanKind kind, std::string_view target, std::string& notKept)
    {
        return moderation_.unban(kind, target, notKept);
    }
    std::vector<Ban> bans() { return moderation_.bans(); }
    std::optional<Affected> mute(std::string_view name, std::optional<std::chrono::seconds> length)
    {
        return moderation_.mute(name, length);
    }
    bool unmute(std::string_view name) { return moderation_.unmute(name); }
    bool muted(std::string_view name) { return moderation_.muted(name); }

    // What reading the state folder found: notes for the log, and whether the lobby may run.
    const StateReport& stateReport() const { return files_.report(); }

    // The name of the user on a connection, empty before log-in.
    std::string_view userName(ConnectionId id) const;

    std::size_t userCount() const { return names_.size(); }
    std::size_t connectionCount() const { return connections_.size(); }
    // Connections not logged in yet.
    std::size_t pendingCount() const { return admission_.pendingCount(); }
    // Connections and log-ins turned away since the start, by reason.
    const RefusalCounts& refusals() const { return refusals_; }
    // Chat allowances kept, of users in and of users gone not yet full again.
    std::size_t allowanceCount() const { return admission_.allowanceCount(); }

    enum class Phase : std::uint8_t { Fresh, Accepted, LoggedIn };
    using Clock = std::chrono::steady_clock;
    using State = UserState;
    using User = server::User;

    // Kept per connection for thousands of idle peers: the fields are ordered so that nothing
    // is lost to padding.
    struct Connection {
        Phase phase = Phase::Fresh;
        std::int16_t index = 0;
        int ticks = 0;
        int unansweredPings = 0;
        int loggedInTicks = 0;
        std::optional<std::int32_t> expectedAnswer;
        int challengeAge = 0;
        int chatRefused = 0; // lines refused since the last one relayed
        bool motdSent = false;
        std::uint64_t arrival = 0; // its place among the connections still logging in
        TokenBucket userLists;     // user lists it may still ask for
        std::string input;
        std::string address;
        std::string addressKey; // what the address counts under
    };

    // Read-only views of the state, for checks from outside (tests, the fuzzer).
    const std::map<ConnectionId, Connection>& connections() const { return connections_; }
    const std::vector<User>& users() const { return users_; }
    const std::set<std::int16_t>& freedIndexes() const { return freedIndexes_; }
    const LobbyConfig& config() const { return config_; }

private:
    // The phases of a connection.
    void onVersion(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields);
    void onLogin(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields);
    void onVerify(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields);
    void onLoggedIn(std::int16_t me, const std::vector<std::string_view>& fields);
    void release(ConnectionId id, std::optional<DropKind> how);

    // The user table.
    std::int16_t allocateIndex();
    void removeUser(std::int16_t index);
    bool isUser(long index) const;
    bool nameTaken(const std::string& key) const;
    void reserveFor(int maxUsers);

    // What users hear.
    void sendUserList(std::int16_t me);
    void sendMotd(std::int16_t me);
    void relayChat(std::int16_t me, const std::vector<std::string_view>& fields);

    // Turns a connection away with the reason, told to the player before it closes.
    // `key` is what its `address` counts under; `name` is logged when given.
    void refuse(ConnectionId id, std::string_view address, const std::string& key,
                const RefusalText& why, std::optional<std::string_view> name = std::nullopt);
    void refuse(ConnectionId id, const RefusalText& why,
                std::optional<std::string_view> name = std::nullopt);

    // What the rooms may ask of the lobby.
    void tell(std::int16_t index, std::string_view message) override;
    void broadcast(std::string_view message) override { broadcast(message, 0); }
    void broadcast(std::string_view message, std::int16_t except);
    void note(std::int16_t index, LogLevel level, std::string_view what) override;
    std::string_view address(std::int16_t index) const override;
    void sendAway(std::int16_t index) override;

    LobbyConfig config_;
    Outbox& outbox_;
    std::map<ConnectionId, Connection> connections_;
    std::vector<User> users_;              // entries 0 to the highest index handed out
    std::vector<ConnectionId> recipients_; // of a broadcast being sent
    std::set<std::int16_t> freedIndexes_;  // free entries below the end of users_
    // Name keys of the users in, sorted: a lookup is a binary search, and an entry costs
    // only its string.
    std::vector<std::string> names_;
    BanList bans_;
    StateFiles files_;
    Admission admission_;
    Moderation moderation_;
    Huts huts_;
    // Indexes up to this one were handed out by an earlier run; user lists free them.
    std::int16_t earlierHighestIndex_ = 0;
    RefusalCounts refusals_{};
    RefusalLog refusalLog_;
};

} // namespace stonecall::server
