#include "LobbyServer.h"

#include "wire/Wire.h"

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>

#include <algorithm>
#include <cerrno>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace stonecall::server {

namespace {

// Room for connections that have not logged in yet beyond the user limit: more than the
// lobby's own room, so that the lobby sees the newcomer and lets its oldest log-in go.
constexpr std::size_t PendingConnections = 64 + 16;
// Bytes read from a socket at a time; nothing more is read until the lobby has them all.
constexpr std::size_t ReadSize = 16 * 1024;
static_assert(ReadSize <= UINT16_MAX, "Connection::inputDone counts within one read");
// Bytes of one connection handed to the lobby in one pass of the loop: between two portions
// every other connection gets its turn and everything answered is written.
constexpr std::size_t FeedPortion = 1024;
// Connections taken from the backlog at a time before others get their turn.
constexpr int AcceptBatch = 256;
// With no descriptor free, accepting waits for a connection to close; in case descriptors
// come free elsewhere, it tries again after this time.
constexpr auto AcceptRetry = std::chrono::seconds(10);

std::size_t derivedOutputLimit(int maxUsers)
{
    // A user costs at most about 170 bytes in a user list (USER and USERSTATE).
    return 64 * 1024 + 192 * static_cast<std::size_t>(std::max(maxUsers, 1));
}

bool outOfDescriptors(const std::error_code& error)
{
    // Asio reports system errors in a category of its own, which std::errc does not match.
    if (error.category() != asio::error::get_system_category())
        return false;
    const int number = error.value();
    return number == EMFILE || number == ENFILE || number == ENOBUFS || number == ENOMEM;
}

} // namespace

LobbyServer::LobbyServer(ServerConfig config)
    : io_(1), config_(std::move(config)),
      outputLimit_(config_.outputLimit ? config_.outputLimit
                                       : derivedOutputLimit(config_.lobby.maxUsers)),
      maxConnections_(
          static_cast<std::size_t>(std::clamp(config_.lobby.maxUsers, 1, MaxUsersLimit)) +
          PendingConnections),
      lobby_(config_.lobby, *this), acceptor_(io_), ticker_(io_), sweeper_(io_), acceptRetry_(io_),
      passTimer_(io_), trimTimer_(io_), framer_(MsgEnd), answers_(MsgEnd),
      batch_(config_.gatherWrites), readBuffer_(ReadSize)
{}

LobbyServer::~LobbyServer()
{
    for (auto& c : slots_)
        if (c)
            c->socket().close();
}

bool LobbyServer::listen(const std::string& address, std::uint16_t port)
{
    using asio::ip::tcp;
    const auto open = [&](const tcp::endpoint& endpoint, bool dualStack) {
        std::error_code error;
        acceptor_.open(endpoint.protocol(), error);
        if (!error)
            acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
        if (!error && dualStack)
            acceptor_.set_option(asio::ip::v6_only(false), error);
        if (!error)
            acceptor_.bind(endpoint, error);
        if (!error)
            acceptor_.listen(asio::socket_base::max_listen_connections, error);
        if (error) {
            error_ = error.message();
            std::error_code ignored;
            acceptor_.close(ignored);
            return false;
        }
        return true;
    };
    bool listening = false;
    if (address.empty()) {
        // Both families on one socket where the system has IPv6, IPv4 alone where not.
        listening = open(tcp::endpoint(tcp::v6(), port), true) ||
                    open(tcp::endpoint(tcp::v4(), port), false);
    } else {
        std::error_code error;
        const asio::ip::address ip = asio::ip::make_address(address, error);
        if (error)
            error_ = error.message();
        else
            listening = open(tcp::endpoint(ip, port), false);
    }
    if (!listening)
        return false;
    std::error_code error;
    acceptor_.non_blocking(true, error);
    accept();
    armTicker();
    armSweeper();
    return true;
}

void LobbyServer::armSweeper()
{
    sweeper_.expires_after(std::chrono::seconds(1));
    sweeper_.async_wait([this](const std::error_code& error) {
        if (error)
            return;
        lobby_.sweep();
        settle();
        schedule();
        armSweeper();
    });
}

void LobbyServer::armTicker()
{
    if (config_.pingInterval.count() <= 0)
        return;
    ticker_.expires_after(config_.pingInterval);
    ticker_.async_wait([this](const std::error_code& error) {
        if (!error)
            tick();
    });
}

void LobbyServer::reconfigure(const ServerConfig& config)
{
    lobby_.setMotd(config.lobby.motd);
    lobby_.setMaxUsers(config.lobby.maxUsers);
    lobby_.setLimits(config.lobby.limits);
    config_.lobby.maxUsers = lobby_.config().maxUsers;
    maxConnections_ = static_cast<std::size_t>(config_.lobby.maxUsers) + PendingConnections;
    if (!config_.outputLimit)
        outputLimit_ = derivedOutputLimit(config_.lobby.maxUsers);
    if (config.pingInterval != config_.pingInterval) {
        config_.pingInterval = config.pingInterval;
        ticker_.cancel(); // the next ping after the new interval, or none
        if (acceptor_.is_open())
            armTicker();
    }
}

std::uint16_t LobbyServer::port() const
{
    std::error_code error;
    const auto endpoint = acceptor_.local_endpoint(error);
    return error ? 0 : endpoint.port();
}

void LobbyServer::run()
{
    io_.run();
}

void LobbyServer::poll(std::chrono::milliseconds wait)
{
    if (io_.stopped())
        io_.restart();
    if (wait.count() > 0)
        io_.run_one_for(wait);
    io_.poll();
}

void LobbyServer::stop()
{
    io_.stop();
}

void LobbyServer::stopListening()
{
    acceptPaused_ = false;
    acceptRetry_.cancel();
    std::error_code ignored;
    acceptor_.close(ignored);
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
    if (slot >= slots_.size() || !slots_[slot] || slots_[slot]->id() != id)
        return nullptr;
    return slots_[slot].get();
}

void LobbyServer::accept()
{
    if (!acceptor_.is_open())
        return; // stopped listening
    acceptor_.async_accept([this](const std::error_code& error, Socket socket) {
        if (error == asio::error::operation_aborted)
            return;
        if (error) {
            acceptFailed(error);
            return;
        }
        opened(std::move(socket));
        // Take everyone who waits now, so a crowd arriving together is answered together.
        for (int i = 0; i < AcceptBatch; ++i) {
            std::error_code e;
            Socket next = acceptor_.accept(e);
            if (e == asio::error::would_block || e == asio::error::try_again)
                break;
            if (e) {
                acceptFailed(e);
                return;
            }
            opened(std::move(next));
        }
        accept();
    });
}

void LobbyServer::acceptFailed(const std::error_code& error)
{
    if (!outOfDescriptors(error)) {
        accept(); // the peer gave up before it was taken: nothing to wait for
        return;
    }
    // The waiting peer stays in the backlog; trying again now would fail again at once.
    note(0, LogLevel::Warning,
         "accept: " + error.message() + "; waiting for a connection to close");
    acceptPaused_ = true;
    acceptRetry_.expires_after(AcceptRetry);
    acceptRetry_.async_wait([this](const std::error_code& e) {
        if (!e)
            resumeAccepting();
    });
}

void LobbyServer::resumeAccepting()
{
    if (!acceptPaused_)
        return;
    acceptPaused_ = false;
    acceptRetry_.cancel();
    accept();
}

void LobbyServer::opened(Socket socket)
{
    std::error_code error;
    if (open_ >= maxConnections_) {
        if (log_ && log_->enabled(LogLevel::Warning))
            log_->write(LogLevel::Warning, peerName(socket) + " refused: too many connections");
        socket.close(error);
        return;
    }
    socket.non_blocking(true, error);
    // Lobby messages are small and interactive; do not hold them back to fill packets.
    socket.set_option(asio::ip::tcp::no_delay(true), error);
    if (config_.socketSendBuffer > 0)
        socket.set_option(asio::socket_base::send_buffer_size(config_.socketSendBuffer), error);

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
    slots_[slot] = std::make_unique<Connection>(id, std::move(socket));
    ++open_;
    note(id, LogLevel::Debug, "connected");
    // The peer's address, for the lobby's limits per address and its log lines.
    const asio::ip::tcp::endpoint peer = slots_[slot]->socket().remote_endpoint(error);
    asio::ip::address address = peer.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    lobby_.connected(id, error ? std::string() : address.to_string());
    readFrom(id); // a client speaks first: its bytes are often there already
}

void LobbyServer::armRead(Connection& c)
{
    if (c.readArmed || c.link != Connection::Link::Up || c.hasInput())
        return;
    c.readArmed = true;
    c.socket().async_wait(asio::socket_base::wait_read,
                          [this, id = c.id()](const std::error_code& error) {
                              if (error == asio::error::operation_aborted)
                                  return;
                              if (Connection* c = find(id)) {
                                  c->readArmed = false;
                                  readFrom(id);
                              }
                          });
}

void LobbyServer::readFrom(ConnectionId id)
{
    Connection& c = *find(id);
    std::error_code error;
    const std::size_t count = c.socket().read_some(asio::buffer(readBuffer_), error);
    if (error == asio::error::would_block || error == asio::error::try_again) {
        armRead(c);
        return;
    }
    if (error) {
        c.link = Connection::Link::PeerEnded; // its end, or a failure: what came before counts
    } else if (!c.inLobby()) {
        armRead(c); // on its way out: input is read only to see the peer's end
        return;
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

void LobbyServer::armWrite(Connection& c)
{
    if (c.writeArmed || c.link == Connection::Link::Failed)
        return;
    c.writeArmed = true;
    c.socket().async_wait(asio::socket_base::wait_write,
                          [this, id = c.id()](const std::error_code& error) {
                              if (error == asio::error::operation_aborted)
                                  return;
                              if (Connection* c = find(id)) {
                                  c->writeArmed = false;
                                  flush(*c);
                                  settle();
                                  schedule();
                              }
                          });
}

void LobbyServer::feed(Connection& c)
{
    if (c.hasInput()) {
        const std::size_t portion = std::min(FeedPortion, c.input.size() - c.inputDone);
        if (c.inLobby()) {
            const std::string_view bytes(c.input.data() + c.inputDone, portion);
            lobby_.bytesReceived(c.id(), bytes);
        }
        c.takeInput(portion);
    }
    if (c.hasInput() && c.inLobby()) {
        c.queuedToRun = true;
        toRun_.push_back(c.id());
        return;
    }
    c.takeInput(c.input.size() - c.inputDone);
    if (c.link != Connection::Link::Up)
        toSettle_.push_back(c.id());
    else
        armRead(c);
}

void LobbyServer::destroy(Connection& c)
{
    const std::uint32_t slot = slotOf(c.id());
    std::error_code error;
    c.socket().close(error);
    slots_[slot].reset();
    freeSlots_.push_back(slot);
    resumeAccepting(); // a descriptor is free again
}

void LobbyServer::tick()
{
    lobby_.tick();
    settle();
    schedule();
    armTicker();
}

} // namespace stonecall::server
