#include "Lobby.h"

#include "Address.h"
#include "Fields.h"
#include "Notices.h"
#include "Rules.h"
#include "wire/Encryptor.h"
#include "wire/Framer.h"
#include "wire/Keywords.h"
#include "wire/Numbers.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <algorithm>
#include <charconv>
#include <random>
#include <utility>

namespace stonecall::server {

namespace {

// Ticks a ping or challenge may stay unanswered.
constexpr int AnswerTicks = 2;

std::string number(long value)
{
    return std::to_string(value);
}

LobbyConfig withDefaults(LobbyConfig config)
{
    config.maxUsers = std::clamp(config.maxUsers, 1, MaxUsersLimit);
    config.limits.maxNameLength = std::min(config.limits.maxNameLength, MaxNameLength);
    if (!config.clock)
        config.clock = [] { return std::chrono::steady_clock::now(); };
    if (!config.wallClock)
        config.wallClock = [] { return WallClock::now(); };
    if (!config.challenge) {
        config.challenge = [engine = std::mt19937(std::random_device{}())]() mutable {
            std::uniform_int_distribution<int> pick(MinChallenge, MaxChallenge);
            return static_cast<std::int16_t>(pick(engine));
        };
    }
    return config;
}

} // namespace

Lobby::Lobby(LobbyConfig config, Outbox& outbox)
    : config_(withDefaults(std::move(config))), outbox_(outbox), users_(1),
      files_(config_.stateFolder, *this), admission_(config_.limits, bans_, config_.clock),
      moderation_(users_, *this, bans_, files_, {config_.clock, config_.wallClock}),
      huts_(users_, *this),
      refusalLog_([this](const std::string& line) { outbox_.note(0, LogLevel::Info, line); })
{
    reserveFor(config_.maxUsers);
    // Read now but said later: the transport's log is attached after the lobby is made.
    files_.load(bans_, config_.wallClock());
    earlierHighestIndex_ = files_.earlierHighestIndex();
}

void Lobby::setMaxUsers(int maxUsers)
{
    config_.maxUsers = std::clamp(maxUsers, 1, MaxUsersLimit);
    reserveFor(config_.maxUsers);
}

void Lobby::reserveFor(int maxUsers)
{
    // Room for a full lobby from the start: a table that grows by doubling holds up to twice
    // what it needs and leaves its old copies as holes in the heap. Pages not yet used do not
    // count as resident.
    users_.reserve(static_cast<std::size_t>(maxUsers) + 1);
    names_.reserve(static_cast<std::size_t>(maxUsers));
}

std::string_view Lobby::userName(ConnectionId id) const
{
    const auto it = connections_.find(id);
    if (it == connections_.end() || it->second.phase != Phase::LoggedIn)
        return {};
    return users_[it->second.index].name;
}

void Lobby::connected(ConnectionId id, std::string_view address)
{
    if (id == 0 || connections_.count(id) != 0)
        return;
    std::string key = admission_.keyOf(address);
    if (const std::optional<RefusalText> refusal = admission_.open(address, key)) {
        refuse(id, address, key, *refusal);
        return;
    }
    // When the room is full the newcomer stays: idle sockets that keep it full then only ever
    // push each other out, while an honest log-in, done in a moment, gets through.
    const int room = config_.limits.pendingRoom;
    if (room > 0 && connections_.size() >= static_cast<std::size_t>(config_.maxUsers) + room)
        if (const std::optional<ConnectionId> oldest = admission_.oldestPending())
            refuse(*oldest, refused::Crowded);
    Connection& c = connections_[id];
    c.address = std::string(address);
    c.addressKey = std::move(key);
    c.userLists = TokenBucket::full(config_.limits.userListBurst, config_.clock());
    c.arrival = admission_.arrived(id);
}

void Lobby::refuse(ConnectionId id, const RefusalText& why, std::optional<std::string_view> name)
{
    const Connection& c = connections_.at(id);
    refuse(id, c.address, c.addressKey, why, name);
}

void Lobby::refuse(ConnectionId id, std::string_view address, const std::string& key,
                   const RefusalText& why, std::optional<std::string_view> name)
{
    ++refusals_[static_cast<std::size_t>(why.reason)];
    // Local tools are exempt, as from the other per-address limits.
    const bool logged = (isLoopbackAddress(address) && !config_.limits.limitLoopback) ||
                        refusalLog_.logWhole(key, config_.clock());
    if (logged) {
        std::string line(why.log);
        if (name)
            line += ": " + peerText(*name);
        outbox_.note(id, LogLevel::Info, line);
    }
    outbox_.send(id, noticeMessage(why.told()));
    if (connections_.count(id) != 0)
        release(id, DropKind::Close);
    else
        outbox_.drop(id, DropKind::Close);
}

void Lobby::sweep()
{
    while (const std::optional<ConnectionId> late = admission_.overdue())
        refuse(*late, refused::LoginDeadline);
    admission_.forgetOld();
    refusalLog_.sweep(config_.clock());
}

void Lobby::bytesReceived(ConnectionId id, std::string_view bytes)
{
    auto it = connections_.find(id);
    if (it == connections_.end())
        return;
    // The buffer leaves the connection while messages are handled: a message may end it.
    std::string buffer = std::move(it->second.input);
    const FeedResult result =
        feedMessages(buffer, bytes, MsgEnd, MaxMessageLength, [&](std::string_view message) {
            if (!message.empty())
                messageReceived(id, splitFields(message));
        });
    it = connections_.find(id);
    if (it == connections_.end())
        return;
    if (result == FeedResult::Overflow) {
        outbox_.note(id, LogLevel::Warning, "dropped: message too long");
        release(id, DropKind::Abort);
        return;
    }
    it->second.input = std::move(buffer);
}

void Lobby::messageReceived(ConnectionId id, const std::vector<std::string_view>& fields)
{
    auto it = connections_.find(id);
    if (it == connections_.end() || fields.empty())
        return;
    Connection& c = it->second;
    const std::string_view keyword = fields[0];
    if (keyword == keyword::PingReply) {
        c.unansweredPings = 0;
        return;
    }
    if (keyword == keyword::Verify) {
        onVerify(id, c, fields);
        return;
    }
    switch (c.phase) {
    case Phase::Fresh:
        if (keyword == keyword::Version)
            onVersion(id, c, fields);
        else if (keyword == keyword::Login)
            release(id, DropKind::Close); // a client always checks its version first
        break;
    case Phase::Accepted:
        if (keyword == keyword::Login)
            onLogin(id, c, fields);
        break;
    case Phase::LoggedIn:
        if (keyword == keyword::Logout)
            release(id, DropKind::Close);
        else
            onLoggedIn(c.index, fields);
        break;
    }
}

void Lobby::disconnected(ConnectionId id)
{
    release(id, std::nullopt);
}

void Lobby::tick()
{
    std::vector<ConnectionId> overdue;
    for (auto& [id, c] : connections_) {
        ++c.ticks;
        const bool challengeOverdue = c.expectedAnswer && ++c.challengeAge >= AnswerTicks;
        if (c.unansweredPings >= AnswerTicks || challengeOverdue) {
            overdue.push_back(id);
            continue;
        }
        outbox_.send(id, keyword::Ping);
        ++c.unansweredPings;
        if (c.phase != Phase::LoggedIn || config_.verifyEveryTicks <= 0)
            continue;
        if (c.loggedInTicks++ % config_.verifyEveryTicks != 0 || c.expectedAnswer)
            continue;
        const std::int16_t challenge = config_.challenge();
        c.expectedAnswer = verifyResponse(challenge);
        c.challengeAge = 0;
        if (c.expectedAnswer)
            outbox_.send(id, makeCommand(keyword::Verify, {number(challenge)}));
    }
    for (ConnectionId id : overdue) {
        outbox_.note(id, LogLevel::Info, "dropped: no answer");
        release(id, DropKind::Abort);
    }
    sweep(); // a transport without a timer of its own still keeps the deadlines
}

void Lobby::onVersion(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields)
{
    if (fields.size() >= 2 && fields[1] == "1") {
        c.phase = Phase::Accepted;
        outbox_.send(id, makeCommand(keyword::Version, {VersionGood}));
        return;
    }
    outbox_.send(id, makeCommand(keyword::Version, {"BAD"}));
    release(id, DropKind::Close);
}

void Lobby::onLogin(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields)
{
    const std::string_view name = fields.size() >= 2 ? fields[1] : std::string_view();
    std::string key = nameKey(name);
    std::optional<RefusalText> refusal =
        admission_.refusal(c.address, c.addressKey, name, key, config_.wallClock());
    if (!refusal && nameTaken(key))
        refusal = refused::NameInUse;
    else if (!refusal && names_.size() >= static_cast<std::size_t>(config_.maxUsers))
        refusal = refused::LobbyFull;
    if (refusal) {
        refuse(id, *refusal, name);
        return;
    }
    admission_.settled(c.arrival);
    admission_.loggedIn(c.addressKey);
    admission_.joined(key, c.address, c.addressKey);

    const std::int16_t index = allocateIndex();
    User& user = users_[index];
    user = User{};
    user.connection = id;
    user.name = std::string(name);
    const auto place = std::lower_bound(names_.begin(), names_.end(), key);
    names_.insert(place, std::move(key));
    c.phase = Phase::LoggedIn;
    c.index = index;

    files_.saveHighestIndex(static_cast<std::int16_t>(users_.size() - 1));
    outbox_.note(id, LogLevel::Info, "logged in as user " + number(index));
    outbox_.send(id, makeCommand(keyword::Login, {number(index)}));
    broadcast(makeCommand(keyword::User, {number(index), user.name, ""}), index);
    broadcast(huts_.stateMessage(index), index);
}

void Lobby::onVerify(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields)
{
    if (!c.expectedAnswer)
        return; // nothing asked: a late or repeated answer does no harm
    if (numberField(fields, 1) != c.expectedAnswer) {
        outbox_.note(id, LogLevel::Warning, "dropped: wrong verification");
        release(id, DropKind::Abort);
        return;
    }
    c.expectedAnswer.reset();
}

void Lobby::onLoggedIn(std::int16_t me, const std::vector<std::string_view>& fields)
{
    const std::string_view keyword = fields[0];
    if (keyword == keyword::GetUserList || keyword == keyword::Motd) {
        // Asked again and again, these would turn a few bytes in into megabytes out.
        Connection& c = connections_.at(users_[me].connection);
        if (keyword == keyword::Motd) {
            if (!std::exchange(c.motdSent, true))
                sendMotd(me);
            return;
        }
        const LobbyLimits& limits = config_.limits;
        if (c.userLists.take(config_.clock(), limits.userListsPerSecond, limits.userListBurst))
            sendUserList(me);
    }
    if (keyword == keyword::SendMsg)
        relayChat(me, fields);
    else if (keyword == keyword::BeHost)
        huts_.beHost(me, fields);
    else if (keyword == keyword::BeClient)
        huts_.beClient(me, fields);
    else if (keyword == keyword::BeIdle)
        huts_.beIdle(me);
}

void Lobby::sendUserList(std::int16_t me)
{
    const ConnectionId to = users_[me].connection;
    // Up to the highest index ever handed out, not only the highest in use: a client that
    // logs in again still holds the entries of its last visit and must see them freed.
    // An earlier run's indexes count too: the client kept them across the restart.
    const std::size_t end = std::max<std::size_t>(users_.size(), earlierHighestIndex_ + 1u);
    // One message built at a time in the same room: in a lobby filling up, lists are most of
    // the server's work.
    std::string line;
    const auto ended = [&] {
        outbox_.send(to, line);
        line.clear();
    };
    for (std::size_t i = 0; i < end; ++i) {
        const bool taken = isUser(static_cast<long>(i));
        appendCommand(line, keyword::User,
                      {Digits(static_cast<long>(i)),
                       taken ? std::string_view(users_[i].name) : NoneValue, ""});
        ended();
    }
    for (std::size_t i = 1; i < users_.size(); ++i)
        if (isUser(static_cast<long>(i))) {
            huts_.appendState(line, static_cast<std::int16_t>(i));
            ended();
        }
    outbox_.send(to, keyword::EndUsers);
}

void Lobby::sendMotd(std::int16_t me)
{
    for (const std::string& line : config_.motd)
        tell(me, makeCommand(keyword::MotdLine, {EncryptText(line)}));
}

void Lobby::relayChat(std::int16_t me, const std::vector<std::string_view>& fields)
{
    if (fields.size() < 2)
        return;
    Connection& c = connections_[users_[me].connection];
    if (!admission_.chat(nameKey(users_[me].name), c.address, c.addressKey)) {
        ++c.chatRefused;
        if (c.chatRefused == 1) {
            tell(me, noticeMessage(notice::ChatFlood));
            outbox_.note(users_[me].connection, LogLevel::Warning,
                         "chat over the rate: not relayed");
        }
        const int limit = config_.limits.floodDisconnectAfter;
        if (limit > 0 && c.chatRefused >= limit) {
            tell(me, noticeMessage(notice::FloodDisconnect));
            outbox_.note(users_[me].connection, LogLevel::Warning, "dropped: flooding the chat");
            release(users_[me].connection, DropKind::Close);
        }
        return;
    }
    c.chatRefused = 0;
    if (moderation_.silenced(me))
        return;
    const std::optional<Chat> chat = relayableChat(fields[1]);
    if (!chat)
        return;
    if (chat->cut) {
        tell(me, noticeMessage(notice::ChatCut));
        outbox_.note(users_[me].connection, LogLevel::Info,
                     "chat line cut to its first characters");
    }
    broadcast(makeCommand(keyword::Msg, {users_[me].name + ": ", chat->encoded}));
}

void Lobby::release(ConnectionId id, std::optional<DropKind> how)
{
    auto it = connections_.find(id);
    if (it == connections_.end())
        return;
    const Connection c = std::move(it->second);
    connections_.erase(it);
    const bool pending = c.phase != Phase::LoggedIn;
    if (pending)
        admission_.settled(c.arrival);
    admission_.close(c.addressKey, pending);
    if (how)
        outbox_.drop(id, *how);
    if (!pending) {
        admission_.left(nameKey(users_[c.index].name), c.address, c.addressKey);
        removeUser(c.index);
    }
}

void Lobby::removeUser(std::int16_t index)
{
    User& user = users_[index];
    // Its connection is already gone from the lobby, so the line names the user itself.
    outbox_.note(user.connection, LogLevel::Info,
                 "left: " + peerText(user.name) + ", user " + number(index));
    user.connection = 0; // hears nothing of its own departure
    huts_.leaveLobby(index);
    const std::string key = nameKey(user.name);
    if (const auto it = std::lower_bound(names_.begin(), names_.end(), key);
        it != names_.end() && *it == key)
        names_.erase(it);
    user = User{};
    freedIndexes_.insert(index);
    broadcast(makeCommand(keyword::User, {number(index), NoneValue, ""}));
}

std::int16_t Lobby::allocateIndex()
{
    if (!freedIndexes_.empty()) {
        const std::int16_t index = *freedIndexes_.begin();
        freedIndexes_.erase(freedIndexes_.begin());
        return index;
    }
    users_.emplace_back();
    return static_cast<std::int16_t>(users_.size() - 1);
}

void Lobby::tell(std::int16_t index, std::string_view message)
{
    if (users_[index].connection != 0)
        outbox_.send(users_[index].connection, message);
}

void Lobby::releaseRoom()
{
    std::vector<ConnectionId>().swap(recipients_);
}

void Lobby::broadcast(std::string_view message, std::int16_t except)
{
    recipients_.clear();
    for (std::size_t i = 1; i < users_.size(); ++i)
        if (static_cast<std::int16_t>(i) != except && users_[i].connection != 0)
            recipients_.push_back(users_[i].connection);
    outbox_.broadcast(recipients_, message);
}

bool Lobby::nameTaken(const std::string& key) const
{
    return std::binary_search(names_.begin(), names_.end(), key);
}

bool Lobby::isUser(long index) const
{
    return index >= 1 && index < static_cast<long>(users_.size()) &&
           users_[static_cast<std::size_t>(index)].connection != 0;
}

void Lobby::announce(std::string_view text)
{
    const std::string clean = plainNotice(text);
    if (clean.find_first_not_of(' ') == std::string::npos)
        return;
    outbox_.note(0, LogLevel::Info, "notice to all: " + clean);
    broadcast(noticeMessage(clean));
}

void Lobby::note(std::int16_t index, LogLevel level, std::string_view what)
{
    outbox_.note(users_[index].connection, level, what);
}

std::string_view Lobby::address(std::int16_t index) const
{
    return connections_.at(users_[index].connection).address;
}

void Lobby::sendAway(std::int16_t index)
{
    release(users_[index].connection, DropKind::Close);
}

} // namespace stonecall::server
