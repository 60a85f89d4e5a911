#include "Lobby.h"

#include "Notices.h"
#include "Rules.h"
#include "wire/CharClass.h"
#include "wire/Encryptor.h"
#include "wire/Framer.h"
#include "wire/Numbers.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

namespace stonecall::server {

namespace {

// Ticks a connection may take to log in, and ticks a ping or challenge may stay unanswered.
constexpr int LoginTicks = 2;
constexpr int AnswerTicks = 2;

constexpr auto LoginWindow = std::chrono::minutes(1);
constexpr const char* HighestIndexFile = "highest-index";
constexpr const char* BansFile = "bans";
// Mutes are few and the operator's; the bound keeps a runaway script from filling memory.
constexpr std::size_t MaxMutes = 10000;

bool isLoopback(std::string_view address)
{
    return address == "::1" || address.starts_with("127.") || address.starts_with("::ffff:127.");
}

std::string number(long value)
{
    return std::to_string(value);
}

// Bytes of a user list handed on at a time.
constexpr std::size_t ListPiece = 16 * 1024;

// A number as a field without a string to hold it: a user list has thousands.
class Digits {
public:
    explicit Digits(long value)
        : size_(static_cast<std::size_t>(std::to_chars(text_, text_ + sizeof text_, value).ptr -
                                         text_))
    {}
    operator std::string_view() const { return {text_, size_}; }

private:
    char text_[24];
    std::size_t size_;
};

// A length as players read it: " for 10 minutes".
std::string spokenLength(std::optional<std::chrono::seconds> length)
{
    if (!length)
        return {};
    const long long seconds = length->count();
    const std::pair<long long, const char*> units[] = {
        {86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    for (const auto& [size, unit] : units) {
        if (seconds % size == 0 || size == 1) {
            const long long count = seconds / size;
            return " for " + std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
        }
    }
    return {};
}

std::optional<std::int32_t> field(const std::vector<std::string_view>& fields, std::size_t at)
{
    if (at >= fields.size())
        return std::nullopt;
    return strictNumber<std::int32_t>(fields[at]);
}

} // namespace

Lobby::Lobby(LobbyConfig config, Outbox& outbox)
    : config_(std::move(config)), outbox_(outbox), users_(1)
{
    config_.maxUsers = std::clamp(config_.maxUsers, 1, MaxUsersLimit);
    reserveFor(config_.maxUsers);
    config_.limits.maxNameLength = std::min(config_.limits.maxNameLength, MaxNameLength);
    for (const std::string& name : config_.limits.reservedNames)
        reserved_.insert(nameKey(name));
    if (!config_.clock)
        config_.clock = [] { return std::chrono::steady_clock::now(); };
    if (!config_.wallClock)
        config_.wallClock = [] { return WallClock::now(); };
    loadState();
    if (!config_.challenge) {
        config_.challenge = [engine = std::mt19937(std::random_device{}())]() mutable {
            std::uniform_int_distribution<int> pick(MinChallenge, MaxChallenge);
            return static_cast<std::int16_t>(pick(engine));
        };
    }
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
    const int perAddress = config_.limits.connectionsPerAddress;
    if (perAddress > 0 && limited(address)) {
        auto it = openPerAddress_.find(address);
        if (it != openPerAddress_.end() && it->second >= perAddress) {
            outbox_.note(id, LogLevel::Warning, "refused: too many connections from this address");
            outbox_.drop(id, DropKind::Close);
            return;
        }
    }
    Connection& c = connections_[id];
    c.address = std::string(address);
    c.chatTokens = config_.limits.chatBurst;
    c.chatRefilled = config_.clock();
    if (!address.empty())
        ++openPerAddress_[c.address];
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
    if (keyword == "PINGREPLY") {
        c.unansweredPings = 0;
        return;
    }
    if (keyword == "VERIFY") {
        onVerify(id, c, fields);
        return;
    }
    switch (c.phase) {
    case Phase::Fresh:
        if (keyword == "VERSION")
            onVersion(id, c, fields);
        else if (keyword == "LOGIN")
            release(id, DropKind::Close); // a client always checks its version first
        break;
    case Phase::Accepted:
        if (keyword == "LOGIN")
            onLogin(id, c, fields);
        break;
    case Phase::LoggedIn:
        if (keyword == "LOGOUT")
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
        if (c.unansweredPings >= AnswerTicks || challengeOverdue ||
            (c.phase != Phase::LoggedIn && c.ticks >= LoginTicks)) {
            overdue.push_back(id);
            continue;
        }
        outbox_.send(id, "PING");
        ++c.unansweredPings;
        if (c.phase != Phase::LoggedIn || config_.verifyEveryTicks <= 0)
            continue;
        if (c.loggedInTicks++ % config_.verifyEveryTicks != 0 || c.expectedAnswer)
            continue;
        const std::int16_t challenge = config_.challenge();
        c.expectedAnswer = verifyResponse(challenge);
        c.challengeAge = 0;
        if (c.expectedAnswer)
            outbox_.send(id, makeCommand("VERIFY", {number(challenge)}));
    }
    // Log-in times older than the window count no more.
    const auto now = config_.clock();
    for (auto it = loginsPerAddress_.begin(); it != loginsPerAddress_.end();) {
        auto& times = it->second;
        while (!times.empty() && now - times.front() >= LoginWindow)
            times.pop_front();
        it = times.empty() ? loginsPerAddress_.erase(it) : std::next(it);
    }
    for (ConnectionId id : overdue) {
        outbox_.note(id, LogLevel::Info, "dropped: no answer");
        release(id, DropKind::Abort);
    }
}

void Lobby::onVersion(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields)
{
    if (fields.size() >= 2 && fields[1] == "1") {
        c.phase = Phase::Accepted;
        outbox_.send(id, makeCommand("VERSION", {"GOOD"}));
        return;
    }
    outbox_.send(id, makeCommand("VERSION", {"BAD"}));
    release(id, DropKind::Close);
}

void Lobby::onLogin(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields)
{
    const std::string_view name = fields.size() >= 2 ? fields[1] : std::string_view();
    std::string key = nameKey(name);
    const char* refusal = nullptr;
    const auto now = config_.wallClock();
    if (!loginAllowed(c.address))
        refusal = "refused: too many log-ins from this address";
    else if (!c.address.empty() && bans_.find(BanKind::Address, c.address, now))
        refusal = "refused: banned address";
    else if (!acceptableName(name) || name.size() > config_.limits.maxNameLength)
        refusal = "refused: unusable name";
    else if (bans_.find(BanKind::Name, name, now))
        refusal = "refused: banned name";
    else if (reserved_.count(key) != 0)
        refusal = "refused: reserved name";
    else if (nameTaken(key))
        refusal = "refused: name in use";
    else if (names_.size() >= static_cast<std::size_t>(config_.maxUsers))
        refusal = "refused: lobby full";
    if (refusal) {
        outbox_.note(id, LogLevel::Info, std::string(refusal) + ": \"" + std::string(name) + "\"");
        release(id, DropKind::Close);
        return;
    }

    const std::int16_t index = allocateIndex();
    User& user = users_[index];
    user = User{};
    user.connection = id;
    user.name = std::string(name);
    const auto place = std::lower_bound(names_.begin(), names_.end(), key);
    names_.insert(place, std::move(key));
    c.phase = Phase::LoggedIn;
    c.index = index;

    saveHighestIndex();
    outbox_.note(id, LogLevel::Info, "logged in as user " + number(index));
    outbox_.send(id, makeCommand("LOGIN", {number(index)}));
    broadcast(makeCommand("USER", {number(index), user.name, ""}), index);
    broadcast(stateMessage(index), index);
}

void Lobby::onVerify(ConnectionId id, Connection& c, const std::vector<std::string_view>& fields)
{
    if (!c.expectedAnswer)
        return; // nothing asked: a late or repeated answer does no harm
    if (field(fields, 1) != c.expectedAnswer) {
        outbox_.note(id, LogLevel::Warning, "dropped: wrong verification");
        release(id, DropKind::Abort);
        return;
    }
    c.expectedAnswer.reset();
}

void Lobby::onLoggedIn(std::int16_t me, const std::vector<std::string_view>& fields)
{
    const std::string_view keyword = fields[0];
    if (keyword == "GETUSERLIST")
        sendUserList(me);
    else if (keyword == "MOTD")
        sendMotd(me);
    else if (keyword == "SENDMSG")
        relayChat(me, fields);
    else if (keyword == "BEHOST")
        beHost(me, fields);
    else if (keyword == "BECLIENT")
        beClient(me, fields);
    else if (keyword == "BEIDLE")
        beIdle(me);
}

void Lobby::sendUserList(std::int16_t me)
{
    // A list still on its way is followed by every change since it was made, so a second
    // one would tell the client nothing new; it would only multiply one short request.
    const ConnectionId to = users_[me].connection;
    if (outbox_.answerPending(to))
        return;
    // Up to the highest index ever handed out, not only the highest in use: a client that
    // logs in again still holds the entries of its last visit and must see them freed.
    // An earlier run's indexes count too: the client kept them across the restart.
    const std::size_t end = std::max<std::size_t>(users_.size(), earlierHighestIndex_ + 1u);
    // Built a piece at a time rather than a message at a time: in a lobby filling up, lists
    // are most of the server's work. Pieces of a bounded size keep the room small.
    std::string list;
    list.reserve(ListPiece + MaxMessageLength);
    const auto ended = [&] {
        list.push_back(MsgEnd);
        if (list.size() >= ListPiece) {
            outbox_.sendFramed(to, list);
            list.clear();
        }
    };
    for (std::size_t i = 0; i < end; ++i) {
        const bool taken = isUser(static_cast<long>(i));
        appendCommand(
            list, "USER",
            {Digits(static_cast<long>(i)), taken ? std::string_view(users_[i].name) : "NONE", ""});
        ended();
    }
    for (std::size_t i = 1; i < users_.size(); ++i)
        if (isUser(static_cast<long>(i))) {
            appendState(list, static_cast<std::int16_t>(i));
            ended();
        }
    list.append("ENDUSERS");
    list.push_back(MsgEnd);
    outbox_.sendFramed(to, list);
    outbox_.markAnswer(to);
}

void Lobby::sendMotd(std::int16_t me)
{
    for (const std::string& line : config_.motd)
        sendTo(me, makeCommand("MOTDLINE", {EncryptText(line)}));
}

void Lobby::relayChat(std::int16_t me, const std::vector<std::string_view>& fields)
{
    if (fields.size() < 2)
        return;
    Connection& c = connections_[users_[me].connection];
    if (!takeChatToken(c)) {
        ++c.chatRefused;
        if (c.chatRefused == 1) {
            notify(me, notice::ChatFlood);
            outbox_.note(users_[me].connection, LogLevel::Warning,
                         "chat over the rate: not relayed");
        }
        const int limit = config_.limits.floodDisconnectAfter;
        if (limit > 0 && c.chatRefused >= limit) {
            notify(me, notice::FloodDisconnect);
            outbox_.note(users_[me].connection, LogLevel::Warning, "dropped: flooding the chat");
            release(users_[me].connection, DropKind::Close);
        }
        return;
    }
    c.chatRefused = 0;
    if (muted(users_[me].name)) {
        if (!std::exchange(c.toldMuted, true))
            notify(me, std::string(notice::Muted) + std::string(notice::MutedWhy));
        outbox_.note(users_[me].connection, LogLevel::Debug, "chat while muted: not relayed");
        return;
    }
    const std::optional<Chat> chat = relayableChat(fields[1]);
    if (!chat)
        return;
    if (chat->cut) {
        notify(me, notice::ChatCut);
        outbox_.note(users_[me].connection, LogLevel::Info,
                     "chat line cut to its first characters");
    }
    broadcast(makeCommand("MSG", {users_[me].name + ": ", chat->encoded}));
}

void Lobby::beHost(std::int16_t me, const std::vector<std::string_view>& fields)
{
    User& user = users_[me];
    const std::optional<std::int32_t> size = field(fields, 1);
    const std::string_view given = fields.size() >= 3 ? fields[2] : std::string_view();
    if (user.state == State::Host || !size || *size < 2 || *size > 4)
        return;
    if (!acceptablePassword(given)) {
        // The asking client shows Exit until it hears its state again.
        const bool tooLong = given.size() > MaxPasswordLength;
        notify(me, tooLong ? notice::PasswordTooLong : notice::PasswordUnusable);
        sendTo(me, stateMessage(me));
        outbox_.note(user.connection, LogLevel::Info,
                     tooLong ? "hut refused: password too long" : "hut refused: unusable password");
        return;
    }
    if (user.state == State::Client)
        leaveHut(me); // asking for a hut of one's own is the way out of another
    user.state = State::Host;
    user.hutSize = static_cast<std::int8_t>(*size);
    // An empty password would be a real one that nobody can type; it means an open hut.
    user.password = given.empty() ? "NONE" : std::string(given);
    user.places = {};
    broadcast(stateMessage(me));
}

void Lobby::beClient(std::int16_t me, const std::vector<std::string_view>& fields)
{
    const std::optional<std::int32_t> host = field(fields, 1);
    if (users_[me].state != State::Idle || !host || *host == me || !isUser(*host))
        return;
    User& hut = users_[*host];
    if (hut.state != State::Host) {
        notify(me, notice::HutGone);
        sendTo(me, stateMessage(me));
        return;
    }
    int place = field(fields, 2).value_or(0);
    if (place < 1 || place >= hut.hutSize || hut.places[place] != 0) {
        place = 0;
        for (int p = 1; p < hut.hutSize && place == 0; ++p)
            if (hut.places[p] == 0)
                place = p;
    }
    if (place == 0) {
        notify(me, notice::HutFull);
        sendTo(me, stateMessage(me));
        outbox_.note(users_[me].connection, LogLevel::Info,
                     "join refused: hut " + number(*host) + " full");
        return;
    }
    hut.places[place] = me;
    User& user = users_[me];
    user.state = State::Client;
    user.host = static_cast<std::int16_t>(*host);
    user.place = static_cast<std::int8_t>(place);
    broadcast(stateMessage(me));
}

void Lobby::beIdle(std::int16_t me)
{
    switch (users_[me].state) {
    case State::Idle:
        // Nothing changes, but the asking client waits for this answer to reset its buttons.
        sendTo(me, stateMessage(me));
        return;
    case State::Client:
        leaveHut(me);
        break;
    case State::Host:
        closeHut(me);
        break;
    }
    users_[me].state = State::Idle;
    broadcast(stateMessage(me));
}

void Lobby::release(ConnectionId id, std::optional<DropKind> how)
{
    auto it = connections_.find(id);
    if (it == connections_.end())
        return;
    const Connection c = std::move(it->second);
    connections_.erase(it);
    if (auto open = openPerAddress_.find(c.address); open != openPerAddress_.end())
        if (--open->second <= 0)
            openPerAddress_.erase(open);
    if (how)
        outbox_.drop(id, *how);
    if (c.phase == Phase::LoggedIn)
        removeUser(c.index);
}

void Lobby::removeUser(std::int16_t index)
{
    User& user = users_[index];
    // Its connection is already gone from the lobby, so the line names the user itself.
    outbox_.note(user.connection, LogLevel::Info,
                 "left: \"" + user.name + "\", user " + number(index));
    user.connection = 0; // hears nothing of its own departure
    if (user.state != State::Idle) {
        // Clients redraw huts only on a state change, so a hut or place must be cleared by one
        // before the entry is freed.
        if (user.state == State::Host)
            closeHut(index);
        else
            leaveHut(index);
        user.state = State::Idle;
        broadcast(stateMessage(index));
    }
    const std::string key = nameKey(user.name);
    if (const auto it = std::lower_bound(names_.begin(), names_.end(), key);
        it != names_.end() && *it == key)
        names_.erase(it);
    user = User{};
    freedIndexes_.insert(index);
    broadcast(makeCommand("USER", {number(index), "NONE", ""}));
}

void Lobby::leaveHut(std::int16_t member)
{
    User& user = users_[member];
    User& host = users_[user.host];
    if (user.place >= 1 && user.place <= 3 && host.places[user.place] == member)
        host.places[user.place] = 0;
    user.host = 0;
    user.place = 0;
}

void Lobby::closeHut(std::int16_t host)
{
    for (int p = 1; p <= 3; ++p) {
        const std::int16_t member = users_[host].places[p];
        if (member == 0)
            continue;
        leaveHut(member);
        users_[member].state = State::Idle;
        broadcast(stateMessage(member));
    }
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

std::string Lobby::stateMessage(std::int16_t index) const
{
    std::string text;
    appendState(text, index);
    return text;
}

void Lobby::appendState(std::string& text, std::int16_t index) const
{
    const User& user = users_[index];
    switch (user.state) {
    case State::Host:
        appendCommand(text, "USERSTATE",
                      {Digits(index), "HOST", Digits(user.hutSize), user.password});
        return;
    case State::Client:
        appendCommand(text, "USERSTATE",
                      {Digits(index), "CLIENT", Digits(user.host), Digits(user.place)});
        return;
    case State::Idle:
        break;
    }
    appendCommand(text, "USERSTATE", {Digits(index), "IDLE"});
}

void Outbox::sendFramed(ConnectionId to, std::string_view messages)
{
    for (auto end = messages.find(MsgEnd); end != std::string_view::npos;
         end = messages.find(MsgEnd)) {
        send(to, messages.substr(0, end));
        messages.remove_prefix(end + 1);
    }
}

void Lobby::sendTo(std::int16_t index, std::string_view message)
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
    outbox_.sendToEach(recipients_, message);
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

} // namespace stonecall::server

namespace stonecall::server {

void Lobby::announce(std::string_view text)
{
    std::string clean;
    for (const char c : text.substr(0, MaxChatCharacters)) {
        const bool unfit = isInvisibleCode(static_cast<unsigned char>(c)) || c == FieldSep;
        clean += unfit ? ' ' : c;
    }
    if (clean.find_first_not_of(' ') == std::string::npos)
        return;
    outbox_.note(0, LogLevel::Info, "notice to all: " + clean);
    broadcast(makeCommand("PUBMSG", {NoticeSender, clean}));
}

void Lobby::notify(std::int16_t index, std::string_view text)
{
    sendTo(index, makeCommand("PUBMSG", {NoticeSender, text}));
}

bool Lobby::limited(std::string_view address) const
{
    return !address.empty() && (config_.limits.limitLoopback || !isLoopback(address));
}

bool Lobby::loginAllowed(const std::string& address)
{
    const int perMinute = config_.limits.loginsPerAddressPerMinute;
    if (perMinute <= 0 || !limited(address))
        return true;
    const auto now = config_.clock();
    auto& times = loginsPerAddress_[address];
    while (!times.empty() && now - times.front() >= LoginWindow)
        times.pop_front();
    if (times.size() >= static_cast<std::size_t>(perMinute))
        return false;
    times.push_back(now);
    return true;
}

bool Lobby::takeChatToken(Connection& c)
{
    const LobbyLimits& limits = config_.limits;
    if (limits.chatLinesPerSecond <= 0)
        return true;
    const auto now = config_.clock();
    const double seconds = std::chrono::duration<double>(now - c.chatRefilled).count();
    c.chatRefilled = now;
    c.chatTokens =
        std::min<double>(limits.chatBurst, c.chatTokens + seconds * limits.chatLinesPerSecond);
    if (c.chatTokens < 1.0)
        return false;
    c.chatTokens -= 1.0;
    return true;
}

std::int16_t Lobby::findUser(std::string_view name) const
{
    const std::string key = nameKey(name);
    for (std::size_t i = 1; i < users_.size(); ++i)
        if (users_[i].connection != 0 && nameKey(users_[i].name) == key)
            return static_cast<std::int16_t>(i);
    return 0;
}

Lobby::Affected Lobby::sendAway(std::int16_t index, std::string_view notice, std::string_view why)
{
    const ConnectionId id = users_[index].connection;
    Affected affected{users_[index].name, connections_.at(id).address};
    notify(index, notice);
    outbox_.note(id, LogLevel::Info, why);
    release(id, DropKind::Close);
    return affected;
}

std::optional<Lobby::Affected> Lobby::kick(std::string_view name)
{
    const std::int16_t index = findUser(name);
    if (index == 0)
        return std::nullopt;
    return sendAway(index, notice::Kicked, "kicked by the operator");
}

Lobby::BanResult Lobby::ban(BanKind kind, std::string_view target,
                            std::optional<std::chrono::seconds> length)
{
    BanResult result;
    Ban entry{kind, std::string(target), std::nullopt};
    if (length)
        entry.until = config_.wallClock() + *length;
    if (!bans_.add(entry)) {
        result.full = true;
        return result;
    }
    const std::string what =
        kind == BanKind::Name ? "name \"" + entry.target + "\"" : "address " + entry.target;
    outbox_.note(0, LogLevel::Info,
                 "operator: banned " + what +
                     (entry.until ? " until " + utcText(*entry.until) : " until lifted"));
    result.notKept = saveBans();
    const std::string told = std::string(notice::Banned) + spokenLength(length) + ".";
    const std::string why = "dropped: banned " +
                            std::string(kind == BanKind::Name ? "name" : "address") +
                            " by the operator";
    if (kind == BanKind::Name) {
        if (const std::int16_t index = findUser(target))
            result.dropped.push_back(sendAway(index, told, why));
        return result;
    }
    for (std::size_t i = 1; i < users_.size(); ++i) {
        const ConnectionId id = users_[i].connection;
        if (id != 0 && connections_[id].address == target)
            result.dropped.push_back(sendAway(static_cast<std::int16_t>(i), told, why));
    }
    return result;
}

bool Lobby::unban(BanKind kind, std::string_view target, std::string& notKept)
{
    if (!bans_.remove(kind, target))
        return false;
    outbox_.note(0, LogLevel::Info,
                 "operator: lifted the ban on " + (kind == BanKind::Name
                                                       ? "name \"" + std::string(target) + "\""
                                                       : "address " + std::string(target)));
    notKept = saveBans();
    return true;
}

std::optional<Lobby::Affected> Lobby::mute(std::string_view name,
                                           std::optional<std::chrono::seconds> length)
{
    const std::int16_t index = findUser(name);
    if (index == 0)
        return std::nullopt;
    const auto now = config_.clock();
    std::erase_if(mutes_, [&](const auto& entry) { return entry.second && *entry.second <= now; });
    std::string key = nameKey(users_[index].name);
    if (mutes_.size() >= MaxMutes && mutes_.count(key) == 0)
        return std::nullopt;
    mutes_[std::move(key)] = length ? std::optional(now + *length)
                                    : std::optional<std::chrono::steady_clock::time_point>();
    const ConnectionId id = users_[index].connection;
    Connection& c = connections_[id];
    c.toldMuted = true;
    notify(index,
           std::string(notice::Muted) + spokenLength(length) + std::string(notice::MutedWhy));
    outbox_.note(id, LogLevel::Info,
                 "muted by the operator" +
                     (length ? " for " + std::to_string(length->count()) + " s" : std::string()));
    return Affected{users_[index].name, c.address};
}

bool Lobby::unmute(std::string_view name)
{
    const std::string key = nameKey(name);
    const auto it = mutes_.find(key);
    if (it == mutes_.end())
        return false;
    const bool inForce = !it->second || *it->second > config_.clock();
    mutes_.erase(it);
    if (!inForce)
        return false;
    const std::int16_t index = findUser(name);
    if (index != 0) {
        connections_[users_[index].connection].toldMuted = false;
        notify(index, notice::Unmuted);
    }
    outbox_.note(index ? users_[index].connection : 0, LogLevel::Info,
                 index ? std::string("unmuted by the operator")
                       : "operator: unmuted \"" + std::string(name) + "\"");
    return true;
}

bool Lobby::muted(std::string_view name)
{
    const auto it = mutes_.find(nameKey(name));
    if (it == mutes_.end())
        return false;
    if (it->second && *it->second <= config_.clock()) {
        mutes_.erase(it);
        return false;
    }
    return true;
}

std::string Lobby::saveBans()
{
    if (config_.stateFolder.empty())
        return "no state-dir";
    const auto error = bans_.save(std::filesystem::path(config_.stateFolder) / BansFile);
    if (!error)
        return {};
    outbox_.note(0, LogLevel::Error, "state: " + *error);
    return *error;
}

void Lobby::loadState()
{
    if (config_.stateFolder.empty())
        return;
    const int unreadable =
        bans_.load(std::filesystem::path(config_.stateFolder) / BansFile, config_.wallClock());
    if (unreadable > 0)
        outbox_.note(0, LogLevel::Warning,
                     "state: ignoring " + number(unreadable) + " unreadable lines of " + BansFile);
    std::ifstream in(std::filesystem::path(config_.stateFolder) / HighestIndexFile);
    std::string text;
    if (in && std::getline(in, text)) {
        const auto value = strictNumber<std::int32_t>(text);
        if (value && *value >= 1 && *value <= MaxUsersLimit)
            earlierHighestIndex_ = static_cast<std::int16_t>(*value);
        else
            outbox_.note(0, LogLevel::Warning,
                         "state: ignoring an unreadable " + std::string(HighestIndexFile));
    }
    savedHighestIndex_ = earlierHighestIndex_;
}

void Lobby::saveHighestIndex()
{
    const auto highest = static_cast<std::int16_t>(users_.size() - 1);
    if (config_.stateFolder.empty() || highest <= savedHighestIndex_)
        return;
    // Written aside and renamed, so a crash never leaves half a number.
    const std::filesystem::path folder(config_.stateFolder);
    const std::filesystem::path target = folder / HighestIndexFile;
    const std::filesystem::path aside = folder / (std::string(HighestIndexFile) + ".new");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    {
        std::ofstream out(aside, std::ios::trunc);
        out << highest << '\n';
        if (!out.flush()) {
            outbox_.note(0, LogLevel::Error, "state: cannot write " + aside.string());
            return;
        }
    }
    std::filesystem::rename(aside, target, error);
    if (error) {
        outbox_.note(0, LogLevel::Error,
                     "state: cannot write " + target.string() + ": " + error.message());
        return;
    }
    savedHighestIndex_ = highest;
}

} // namespace stonecall::server
