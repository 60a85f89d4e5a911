#include "LobbyServer.h"

#include "wire/Wire.h"

#include <algorithm>

namespace stonecall::server {

namespace {

// Room for connections that have not logged in yet beyond the user limit: more than the
// lobby's own room, so that the lobby sees the newcomer and lets its oldest log-in go.
constexpr std::size_t PendingConnections = 64 + 16;
// Bytes read from a socket at a time; nothing more is read until the lobby has them all.
constexpr std::size_t ReadSize = 16 * 1024;
// Bytes of one connection handed to the lobby in one pass of the loop: between two portions
// every other connection gets its turn and everything answered is written.
constexpr std::size_t FeedPortion = 1024;
constexpr std::size_t KeptInput = 15;                    // input room kept once all is handled
constexpr std::chrono::milliseconds SweepInterval{1000}; // the lobby's deadlines

std::size_t derivedOutputLimit(int maxUsers)
{
    // A user costs at most about 170 bytes in a user list (USER and USERSTATE).
    return 64 * 1024 + 192 * static_cast<std::size_t>(std::max(maxUsers, 1));
}

std::uint32_t slotOf(ConnectionId id)
{
    return static_cast<std::uint32_t>(id & 0xffffffffu);
}

} // namespace

LobbyServer::LobbyServer(ServerConfig config)
    : io_(1), config_(std::move(config)),
      outputLimit_(config_.outputLimit ? config_.outputLimit
                                       : derivedOutputLimit(config_.lobby.maxUsers)),
      lobby_(config_.lobby, *this),
      listener_(
          io_, config_.socketSendBuffer, [this](Socket socket) { opened(std::move(socket)); },
          [this](const std::string& what) { note(0, LogLevel::Warning, what); }),
      ticker_(io_), sweeper_(io_), passTimer_(io_), trimTimer_(io_), framer_(MsgEnd),
      answers_(MsgEnd), batch_(config_.gatherWrites), readBuffer_(ReadSize)
{}

LobbyServer::~LobbyServer() = default;

bool LobbyServer::listen(const std::string& address, std::uint16_t port)
{
    if (!listener_.listen(address, port))
        return false;
    repeat(ticker_, config_.pingInterval, &Lobby::tick);
    repeat(sweeper_, SweepInterval, &Lobby::sweep);
    return true;
}

void LobbyServer::repeat(asio::steady_timer& timer, const std::chrono::milliseconds& every,
                         void (Lobby::*what)())
{
    if (every.count() <= 0)
        return;
    timer.expires_after(every);
    timer.async_wait([this, &timer, &every, what](const std::error_code& error) {
        if (error)
            return;
        (lobby_.*what)();
        settle();
        schedule();
        repeat(timer, every, what);
    });
}

void LobbyServer::reconfigure(const ServerConfig& config)
{
    lobby_.setMotd(config.lobby.motd);
    lobby_.setMaxUsers(config.lobby.maxUsers);
    lobby_.setLimits(config.lobby.limits);
    if (!config_.outputLimit)
        outputLimit_ = derivedOutputLimit(lobby_.config().maxUsers);
    if (config.pingInterval != config_.pingInterval) {
        config_.pingInterval = config.pingInterval;
        ticker_.cancel(); // the next ping after the new interval, or none
        if (listener_.listening())
            repeat(ticker_, config_.pingInterval, &Lobby::tick);
    }
}

void LobbyServer::poll(std::chrono::milliseconds wait)
{
    if (io_.stopped())
        io_.restart();
    if (wait.count() > 0)
        io_.run_one_for(wait);
    io_.poll();
}

std::size_t LobbyServer::queuedBytes() const
{
    std::size_t total = 0;
    for (const auto& c : slots_)
        if (c)
            total += c->output.bytes();
    return total;
}

Connection* LobbyServer::find(ConnectionId id)
{
    const std::uint32_t slot = slotOf(id);
    if (slot >= slots_.size() || !slots_[slot] || slots_[slot]->id != id)
        return nullptr;
    return slots_[slot].get();
}

void LobbyServer::opened(Socket socket)
{
    if (open_ >= static_cast<std::size_t>(lobby_.config().maxUsers) + PendingConnections) {
        note(0, LogLevel::Warning, peerName(socket) + " refused: too many connections");
        return; // the socket closes as it goes
    }
    std::uint32_t slot;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        slot = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    if (++generation_ == 0)
        generation_ = 1;
    const ConnectionId id = (static_cast<ConnectionId>(generation_) << 32) | slot;
    std::string peer = peerName(socket);
    const std::string address = peerAddress(socket); // for the lobby's limits per address
    slots_[slot].reset(new Connection{id, std::move(socket), std::move(peer)});
    ++open_;
    note(id, LogLevel::Debug, "connected");
    lobby_.connected(id, address);
    readFrom(id); // a client speaks first: its bytes are often there already
}

void LobbyServer::armRead(Connection& c)
{
    if (c.readArmed || c.link != Connection::Link::Up || c.hasInput())
        return;
    c.readArmed = true;
    c.socket.async_wait(asio::socket_base::wait_read, [this, id = c.id](std::error_code error) {
        if (Connection* c = error == asio::error::operation_aborted ? nullptr : find(id)) {
            c->readArmed = false;
            readFrom(id);
        }
    });
}

void LobbyServer::armWrite(Connection& c)
{
    if (c.writeArmed || c.link == Connection::Link::Failed)
        return;
    c.writeArmed = true;
    c.socket.async_wait(asio::socket_base::wait_write, [this, id = c.id](std::error_code error) {
        if (Connection* c = error == asio::error::operation_aborted ? nullptr : find(id)) {
            c->writeArmed = false;
            flush(*c);
            settle();
            schedule();
        }
    });
}

void LobbyServer::readFrom(ConnectionId id)
{
    Connection& c = *find(id);
    std::error_code error;
    const std::size_t count = c.socket.read_some(asio::buffer(readBuffer_), error);
    if (error == asio::error::would_block || error == asio::error::try_again)
        return armRead(c);
    if (error) {
        c.link = Connection::Link::PeerEnded; // its end, or a failure: what came before counts
    } else if (!c.inLobby()) {
        return armRead(c); // on its way out: input is read only to see the peer's end
    } else {
        c.input.append(readBuffer_.data(), count);
        traffic_.bytesIn += count;
        traffic_.messagesIn += static_cast<std::uint64_t>(
            std::count(readBuffer_.data(), readBuffer_.data() + count, MsgEnd));
    }
    if (!c.queuedToRun) {
        c.queuedToRun = true;
        toRun_.push_back(id);
    }
    schedule();
}

void LobbyServer::feed(Connection& c)
{
    const std::size_t portion = std::min(FeedPortion, c.input.size());
    if (portion > 0 && c.inLobby())
        lobby_.bytesReceived(c.id, std::string_view(c.input.data(), portion));
    c.input.erase(0, portion);
    if (!c.input.empty() && c.inLobby()) {
        c.queuedToRun = true;
        toRun_.push_back(c.id);
        return;
    }
    if (c.input.capacity() > KeptInput)
        std::string().swap(c.input); // an idle connection keeps no room beyond the string
    else
        c.input.clear();
    if (c.link != Connection::Link::Up)
        toSettle_.push_back(c.id);
    else
        armRead(c);
}

void LobbyServer::failed(Connection& c)
{
    c.link = Connection::Link::Failed;
    toSettle_.push_back(c.id);
}

void LobbyServer::settle()
{
    // Letting one connection go tells everyone else, which may push another over its cap.
    while (!toSettle_.empty()) {
        const ConnectionId id = toSettle_.back();
        toSettle_.pop_back();
        Connection* c = find(id);
        if (!c)
            continue;
        using Stage = Connection::Stage;
        using Link = Connection::Link;
        if (c->inLobby()) {
            if (c->stage == Stage::InLobby &&
                (c->link == Link::Up || (c->link == Link::PeerEnded && c->hasInput())))
                continue;
            if (c->stage == Stage::Overfull)
                note(id, LogLevel::Info, "dropped: not reading");
            else
                note(id, LogLevel::Debug, "connection closed");
            --open_;
            lobby_.disconnected(id);
            destroy(*c);
        } else if (c->stage == Stage::Aborted || c->link != Link::Up) {
            destroy(*c);
        }
    }
}

void LobbyServer::destroy(Connection& c)
{
    const std::uint32_t slot = slotOf(c.id);
    slots_[slot].reset();
    freeSlots_.push_back(slot);
    listener_.descriptorFreed();
}

void LobbyServer::drop(ConnectionId who, DropKind how)
{
    Connection* c = find(who);
    if (!c || !c->inLobby())
        return;
    --open_;
    if (how == DropKind::Abort) {
        c->stage = Connection::Stage::Aborted;
        c->output.clear();
        toSettle_.push_back(who);
        return;
    }
    c->stage = Connection::Stage::Closing;
    // A peer that does not take its last bytes after a refusal is cut off after this time.
    c->grace = std::make_unique<asio::steady_timer>(io_, std::chrono::seconds(5));
    c->grace->async_wait([this, who](const std::error_code& error) {
        if (Connection* c = error ? nullptr : find(who))
            destroy(*c);
    });
    dueAtPassEnd(*c);
}

void LobbyServer::note(ConnectionId who, LogLevel level, std::string_view what)
{
    if (!log_ || !log_->enabled(level))
        return;
    std::string line;
    if (const Connection* c = who ? find(who) : nullptr) {
        line = c->peer;
        if (const std::string_view name = lobby_.userName(who); !name.empty()) {
            line += " user \"";
            line += name;
            line += '"';
        }
        line += ' ';
    }
    line += what;
    log_->write(level, line);
}

} // namespace stonecall::server
