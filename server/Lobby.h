#pragma once
// The lobby's rules without sockets. Connections are numbers; their bytes or messages come
// in, and everything the lobby says or decides goes out through an Outbox, so the whole
// protocol can be driven by a test or a fuzzer.

#include "BanList.h"
#include "LobbyLimits.h"
#include "LogLevel.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace stonecall::server {

using ConnectionId = std::uint64_t; // 0 is never a connection

enum class DropKind {
    Close, // after what was already sent has gone out (a refusal the client should read)
    Abort, // at once, pending output discarded (misbehaving or dead peers)
};

class Outbox {
public:
    virtual ~Outbox() = default;
    // One message, without MsgEnd.
    virtual void send(ConnectionId to, std::string_view message) = 0;
    // Several messages, each ending in MsgEnd: the same as send() for each, which a
    // transport may do as one piece (a user list).
    virtual void sendFramed(ConnectionId to, std::string_view messages);
    // The same message to each of `to`, in that order: the same as send() to each, which a
    // transport may do with less work per reader (a broadcast).
    virtual void sendToEach(std::span<const ConnectionId> to, std::string_view message)
    {
        for (const ConnectionId id : to)
            send(id, message);
    }
    // The lobby has let go of the connection and sends nothing more to it.
    virtual void drop(ConnectionId who, DropKind how) = 0;
    // An event for the operator's log, about one connection (0: about none); the transport
    // adds who that is (address, user name).
    virtual void note(ConnectionId, LogLevel, std::string_view) {}
    // Keeps one request from being answered again and again while its answer still waits
    // for a reader: the lobby marks the end of a large answer, and a transport that still
    // holds output up to the mark says so.
    virtual void markAnswer(ConnectionId) {}
    virtual bool answerPending(ConnectionId) const { return false; }
};

inline constexpr std::size_t MaxMessageLength = 4096;
inline constexpr int MaxUsersLimit = 32767; // clients keep indexes as 16-bit numbers

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

class Lobby {
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

    // The operator's moderation (through the control socket). Names are matched as log-ins
    // match them: after folding case and blanks. A user sent away is told why first.
    struct Affected {
        std::string name;
        std::string address;
    };
    // Nothing when nobody by that name is logged in.
    std::optional<Affected> kick(std::string_view name);
    struct BanResult {
        bool full = false;             // the list has no room: nothing changed
        std::vector<Affected> dropped; // logged-in users it sent away
        std::string notKept;           // why it does not outlive a restart, when it does not
    };
    BanResult ban(BanKind kind, std::string_view target,
                  std::optional<std::chrono::seconds> length);
    // False when there was no such ban; `notKept` as for ban().
    bool unban(BanKind kind, std::string_view target, std::string& notKept);
    std::vector<Ban> bans() { return bans_.list(config_.wallClock()); }
    // A muted user's chat lines are not relayed; the user is told at once, and on a later
    // connection at the first line. Nothing when nobody by that name is logged in (or the
    // mutes in force are as many as can be).
    std::optional<Affected> mute(std::string_view name, std::optional<std::chrono::seconds> length);
    bool unmute(std::string_view name);
    bool muted(std::string_view name);

    // The name of the user on a connection, empty before log-in.
    std::string_view userName(ConnectionId id) const;

    std::size_t userCount() const { return names_.size(); }
    std::size_t connectionCount() const { return connections_.size(); }

    enum class Phase : std::uint8_t { Fresh, Accepted, LoggedIn };
    enum class State : std::uint8_t { Idle, Host, Client };

    // Kept per connection and per user for thousands of idle peers: the fields are ordered
    // so that nothing is lost to padding.
    struct Connection {
        Phase phase = Phase::Fresh;
        bool toldMuted = false;
        std::int16_t index = 0;
        int ticks = 0;
        int unansweredPings = 0;
        int loggedInTicks = 0;
        std::optional<std::int32_t> expectedAnswer;
        int challengeAge = 0;
        int chatRefused = 0; // lines refused since the last one relayed
        double chatTokens = 0;
        std::chrono::steady_clock::time_point chatRefilled{};
        std::string input;
        std::string address;
    };

    struct User {
        ConnectionId connection = 0; // 0: free, or on its way out
        std::string name;
        std::string password;
        std::array<std::int16_t, 4> places{}; // a host's members by place 1 to 3, 0 empty
        std::int16_t host = 0;                // a member's host
        State state = State::Idle;
        std::int8_t hutSize = 0;
        std::int8_t place = 0; // a member's place
    };

    // Read-only views of the state, for checks from outside (tests, the fuzzer).
    const std::map<ConnectionId, Connection>& connections() const { return connections_; }
    const std::vector<User>& users() const { return users_; }
    const std::set<std::int16_t>& freedIndexes() const { return freedIndexes_; }
    const LobbyConfig& config() const { return config_; }

private:
    void onVersion(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields);
    void onLogin(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields);
    void onVerify(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields);
    void onLoggedIn(std::int16_t me, const std::vector<std::string_view>& fields);
    void sendUserList(std::int16_t me);
    void sendMotd(std::int16_t me);
    void relayChat(std::int16_t me, const std::vector<std::string_view>& fields);
    void beHost(std::int16_t me, const std::vector<std::string_view>& fields);
    void beClient(std::int16_t me, const std::vector<std::string_view>& fields);
    void beIdle(std::int16_t me);

    void release(ConnectionId id, std::optional<DropKind> how);
    void removeUser(std::int16_t index);
    void leaveHut(std::int16_t member);
    void closeHut(std::int16_t host);
    std::int16_t allocateIndex();

    void notify(std::int16_t index, std::string_view text);
    Affected sendAway(std::int16_t index, std::string_view notice, std::string_view why);
    std::int16_t findUser(std::string_view name) const;
    std::string saveBans();
    bool limited(std::string_view address) const;
    bool loginAllowed(const std::string& address);
    bool takeChatToken(Connection& c);
    void loadState();
    void saveHighestIndex();

    std::string stateMessage(std::int16_t index) const;
    void appendState(std::string& text, std::int16_t index) const;
    void sendTo(std::int16_t index, std::string_view message);
    void broadcast(std::string_view message, std::int16_t except = 0);
    bool isUser(long index) const;
    bool nameTaken(const std::string& key) const;
    void reserveFor(int maxUsers);

    LobbyConfig config_;
    Outbox& outbox_;
    std::map<ConnectionId, Connection> connections_;
    std::vector<User> users_;              // entries 0 to the highest index handed out
    std::vector<ConnectionId> recipients_; // of a broadcast being sent
    std::set<std::int16_t> freedIndexes_;  // free entries below the end of users_
    // Name keys of the users in, sorted: a lookup is a binary search, and an entry costs
    // only its string.
    std::vector<std::string> names_;
    std::unordered_set<std::string> reserved_; // name keys
    std::map<std::string, int, std::less<>> openPerAddress_;
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> loginsPerAddress_;
    // Indexes up to this one were handed out by an earlier run; user lists free them.
    std::int16_t earlierHighestIndex_ = 0;
    std::int16_t savedHighestIndex_ = 0;
    BanList bans_;
    // Muted name keys, each until a time or until lifted.
    std::map<std::string, std::optional<std::chrono::steady_clock::time_point>> mutes_;
};

} // namespace stonecall::server
