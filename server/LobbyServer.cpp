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

// Room for connections that have not logged in yet beyond the user limit.
constexpr std::size_t PendingConnections = 64;
// Bytes read from a socket at a time; nothing more is read until the lobby has them all.
constexpr std::size_t ReadSize = 16 * 1024;
static_assert(ReadSize <= UINT16_MAX, "Connection::inputDone counts within one read");
// Bytes of one connection handed to the lobby in one pass of the loop: between two portions
// every other connection gets its turn and everything answered is written.
constexpr std::size_t FeedPortion = 1024;
// Passes come at most this often while there is work, so that what arrives in between is
// answered together: a connection then gets one write for many messages (a lobby filling up
// costs far fewer system calls). An idle server answers at once.
constexpr auto PassInterval = std::chrono::milliseconds(1);
// While a pass answers requests (a lobby filling up), broadcasts to everyone else wait for a
// round: each reader then gets one write for the log-ins of many passes, where it would get
// one per pass. A round is due this long after its oldest broadcast: twice what the last
// round took, so rounds take at most a third of the time, within these bounds. A pass that
// answered nothing (a chat line in a quiet lobby) writes everything at once.
constexpr auto MinRoundDelay = std::chrono::milliseconds(1);
constexpr auto MaxRoundDelay = std::chrono::milliseconds(1000);
constexpr int RoundDelayFactor = 4;
// After this long without a pass, memory freed since the last burst goes back to the system
// (the allocator keeps freed pages otherwise). Even a small burst leaves its freed blocks as
// resident holes between the connections' own memory, so a little output is enough.
constexpr auto TrimDelay = std::chrono::seconds(1);
constexpr std::uint64_t TrimAfterBytes = 256 * 1024;
constexpr std::uint64_t RoundTrimAfterBytes = 16 * 1024 * 1024;
// Connections taken from the backlog at a time before others get their turn.
constexpr int AcceptBatch = 256;
// A peer that does not take its last bytes after a refusal is cut off after this time.
constexpr auto CloseGrace = std::chrono::seconds(5);
// With no descriptor free, accepting waits for a connection to close; in case descriptors
// come free elsewhere, it tries again after this time.
constexpr auto AcceptRetry = std::chrono::seconds(10);

std::size_t derivedOutputLimit(int maxUsers)
{
    // A user costs at most about 170 bytes in a user list (USER and USERSTATE).
    return 64 * 1024 + 192 * static_cast<std::size_t>(std::max(maxUsers, 1));
}

std::uint32_t slotOf(ConnectionId id)
{
    return static_cast<std::uint32_t>(id & 0xffffffffu);
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
      lobby_(config_.lobby, *this), acceptor_(io_), ticker_(io_), acceptRetry_(io_),
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
    return true;
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
    if (c.readArmed || c.peerClosed || c.broken || c.hasInput())
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
        c.peerClosed = true; // its end, or a failure: what came before still counts
    } else if (!c.inLobby) {
        armRead(c); // on its way out: input is read only to see the peer's end
        return;
    } else {
        c.input.append(readBuffer_.data(), count);
    }
    if (!c.queuedToRun) {
        c.queuedToRun = true;
        toRun_.push_back(id);
    }
    schedule();
}

void LobbyServer::armWrite(Connection& c)
{
    if (c.writeArmed || c.broken)
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

void LobbyServer::schedule()
{
    // A pass schedules the next one as it ends, once it knows what is left; a timer armed
    // for what it sends itself would only run an empty pass, and that pass would hold back
    // the next request by the pass interval.
    if (inPass_)
        return;
    using Clock = std::chrono::steady_clock;
    const bool work = !toRun_.empty() || !toFlush_.empty() || !toSettle_.empty() || roundNow_;
    if (!work && toLater_.empty())
        return;
    // Broadcasts alone wait for their round; anything else for the pass interval.
    const Clock::time_point due =
        work ? nextPass_ : std::max(nextPass_, laterSince_ + roundDelay());
    if (passPending_ && due >= passAt_)
        return;
    passPending_ = true;
    const Clock::time_point now = Clock::now();
    if (now >= due) {
        passAt_ = now;
        passTimer_.cancel();
        // Posted behind what the loop has ready, so others' events come first.
        asio::post(io_, [this] { pass(); });
        return;
    }
    passAt_ = due;
    passTimer_.expires_at(due); // replaces a later wait
    passTimer_.async_wait([this](const std::error_code& error) {
        if (!error)
            pass();
    });
}

std::chrono::steady_clock::duration LobbyServer::roundDelay() const
{
    return std::clamp<std::chrono::steady_clock::duration>(RoundDelayFactor * roundCost_,
                                                           MinRoundDelay, MaxRoundDelay);
}

void LobbyServer::pass()
{
    using Clock = std::chrono::steady_clock;
    passPending_ = false;
    inPass_ = true;
    nextPass_ = Clock::now() + PassInterval;
    answered_ = false;
    ++passes_;
    bool fed = false;
    // One portion of input from each connection that has some, in turn.
    running_.swap(toRun_);
    for (ConnectionId id : running_) {
        Connection* c = find(id);
        if (!c)
            continue;
        c->queuedToRun = false;
        feeding_ = id;
        fed = true;
        feed(*c);
        feeding_ = 0;
        if (answerPending_)
            answered_ = true;
        answerPending_ = false;
        settle();
    }
    running_.clear();
    // Then the answers go out, a gathered write per connection.
    while (!toFlush_.empty()) {
        running_.swap(toFlush_);
        flushEach(running_, [](Connection& c) { c.queuedToFlush = false; });
        running_.clear();
        settle();
    }
    // Broadcasts too, unless requests are being answered and their round is not due yet.
    // Broadcasts made outside input (an operator's notice, a tick) go at once as well.
    if (!toLater_.empty() &&
        (roundNow_ || (fed && !answered_) || Clock::now() >= laterSince_ + roundDelay()))
        flushRound();
    roundNow_ = false;
    inPass_ = false;
    // More input, or output made since: the next pass, after the interval.
    schedule();
    trimLater();
}

void LobbyServer::flushRound()
{
    const auto start = std::chrono::steady_clock::now();
    // Letting a connection go here tells everyone, which queues more for this round.
    while (!toLater_.empty()) {
        running_.swap(toLater_);
        flushEach(running_, [](Connection& c) { c.queuedLater = false; });
        running_.clear();
        settle();
    }
    roundCost_ = std::chrono::steady_clock::now() - start;
    trimNow(false);
}

void LobbyServer::trimLater()
{
    if (framer_.framedBytes() + answers_.framedBytes() - trimmedAt_ < TrimAfterBytes)
        return;
    trimTimer_.expires_after(TrimDelay); // from the last pass
    trimTimer_.async_wait([this](const std::error_code& error) {
        if (!error)
            trimNow(true);
    });
}

void LobbyServer::trimNow(bool idle)
{
    // A round writes out what many log-ins framed: a good moment to give back what they
    // used, since the allocator keeps freed pages that lie between live objects.
    const std::uint64_t framed = framer_.framedBytes() + answers_.framedBytes();
    if (framed - trimmedAt_ < (idle ? TrimAfterBytes : RoundTrimAfterBytes))
        return;
    trimmedAt_ = framed;
    if (idle) {
        lobby_.releaseRoom();
        std::vector<InFlight>().swap(inFlight_);
        std::vector<Staged>().swap(staged_);
    }
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void LobbyServer::feed(Connection& c)
{
    if (c.hasInput()) {
        const std::size_t portion = std::min(FeedPortion, c.input.size() - c.inputDone);
        if (c.inLobby) {
            const std::string_view bytes(c.input.data() + c.inputDone, portion);
            lobby_.bytesReceived(c.id(), bytes);
        }
        c.takeInput(portion);
    }
    if (c.hasInput() && c.inLobby) {
        c.queuedToRun = true;
        toRun_.push_back(c.id());
        return;
    }
    c.takeInput(c.input.size() - c.inputDone);
    if (c.peerClosed || c.broken)
        toSettle_.push_back(c.id());
    else
        armRead(c);
}

template <typename Unmark>
void LobbyServer::flushEach(const std::vector<ConnectionId>& ids, Unmark unmark)
{
    // As many as the kernel is handed at once; the headers stay put until then.
    constexpr std::size_t Chunk = SendBatch::Entries;
    for (const ConnectionId id : ids) {
        Connection* c = find(id);
        if (!c)
            continue;
        unmark(*c);
        if (!batch_.gathers() || c->output.empty() || c->writeArmed || c->broken) {
            flush(*c);
            continue;
        }
        if (staged_.capacity() < Chunk)
            staged_.reserve(Chunk);
        Staged& write = staged_.emplace_back();
        write.to = id;
        write.header = msghdr{};
        write.header.msg_iov = write.pieces.data();
        write.header.msg_iovlen = c->gather(write.pieces, write.offered);
        batch_.addGathered(c->descriptor(), &write.header, staged_.size() - 1);
        if (staged_.size() == Chunk)
            endStaged();
    }
    endStaged();
}

void LobbyServer::endStaged()
{
    for (const SendBatch::Result& result : batch_.finish()) {
        const Staged& write = staged_[result.tag];
        Connection* c = find(write.to);
        if (!c)
            continue;
        if (result.written < 0) {
            c->broken = true;
            toSettle_.push_back(write.to);
            continue;
        }
        c->output.consume(static_cast<std::size_t>(result.written));
        if (static_cast<std::size_t>(result.written) < write.offered)
            armWrite(*c); // the kernel is full: the rest waits for room
        else
            flush(*c); // what lay beyond the pieces written, or the end of a closing one
    }
    staged_.clear();
}

void LobbyServer::flush(Connection& c)
{
    if (c.writeArmed || c.broken)
        return;
    if (!c.flush()) {
        c.broken = true;
        toSettle_.push_back(c.id());
        return;
    }
    if (!c.output.empty()) {
        armWrite(c);
        return;
    }
    if (c.closing && !c.shutDown) {
        // All is out: say so, and wait for the peer's end (or the grace time).
        c.shutDown = true;
        std::error_code error;
        c.socket().shutdown(asio::socket_base::shutdown_send, error);
        armRead(c);
    }
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
        if (c->inLobby) {
            if (!c->overfull && !c->broken && !(c->peerClosed && !c->hasInput()))
                continue;
            if (c->overfull)
                note(id, LogLevel::Info, "dropped: not reading");
            else
                note(id, LogLevel::Debug, "connection closed");
            c->inLobby = false;
            --open_;
            lobby_.disconnected(id);
            destroy(*c);
        } else if (!c->closing || c->broken || c->peerClosed) {
            destroy(*c);
        }
    }
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

void LobbyServer::send(ConnectionId to, std::string_view message)
{
    Connection* c = find(to);
    if (!c || !c->inLobby || c->overfull)
        return;
    // A broadcast is framed once: the connections after the first get the same bytes. The
    // same line again for a connection that has it already is the next broadcast.
    if (to != feeding_) {
        if (feeding_ == 0)
            roundNow_ = true;
        if (answerPending_) {
            // What went to the connection whose input is handled was an answer, unless the
            // same message goes to others too (its own copy of a broadcast).
            answered_ = answered_ || !answers_.holdsLast(message);
            answerPending_ = false;
        }
        deliver(*c, framer_.frame(message, c->output.endsWith(framer_.last())));
        return;
    }
    if (framer_.holdsLast(message) && !c->output.endsWith(framer_.last())) {
        c->output.push(framer_.last()); // its own copy of what the others got
    } else {
        answerPending_ = true;
        c->output.push(answers_.frame(message, c->output.endsWith(answers_.last())));
    }
    queued(*c);
}

void LobbyServer::sendToEach(std::span<const ConnectionId> to, std::string_view message)
{
    // The first reader other than the one whose request is handled takes the common way,
    // which frames the message and settles whether an answer went before it; the others get
    // the same slice without comparing it again.
    bool framed = false;
    gathering_ = true;
    for (const ConnectionId id : to) {
        if (!framed || id == feeding_ || answerPending_) {
            send(id, message);
            if (id != feeding_)
                framed = framer_.holdsLast(message);
            continue;
        }
        Connection* c = find(id);
        if (!c || !c->inLobby || c->overfull)
            continue;
        // One that holds the last copy already gets a fresh one right behind it.
        deliver(*c,
                c->output.endsWith(framer_.last()) ? framer_.frame(message, true) : framer_.last());
    }
    endGathering();
}

void LobbyServer::endGathering()
{
    gathering_ = false;
    for (const SendBatch::Result& result : batch_.finish()) {
        const InFlight& write = inFlight_[result.tag];
        if (Connection* c = find(write.to))
            wrote(*c, write.slice, result.written);
    }
    inFlight_.clear();
}

void LobbyServer::deliver(Connection& c, const Slice& slice)
{
    // A broadcast in a pass that answers nothing (a chat line in a quiet lobby) goes to each
    // reader as the lobby sends it, as long as nothing waits before it: the first reader need
    // not wait for the last one's copy to be queued, and the queue is skipped. Once per
    // reader and pass, so a burst of lines still shares one write per pass.
    if (feeding_ != 0 && !answered_ && toLater_.empty() && c.output.empty() && !c.writeArmed &&
        !c.broken && c.wroteInPass != passes_) {
        c.wroteInPass = passes_;
        if (gathering_) {
            batch_.add(c.descriptor(), slice.data(), slice.size(), inFlight_.size());
            inFlight_.push_back(InFlight{c.id(), slice});
        } else {
            wrote(c, slice, c.writeNow(slice));
        }
        return;
    }
    c.output.push(slice);
    queued(c);
}

void LobbyServer::wrote(Connection& c, const Slice& slice, long written)
{
    if (written < 0) {
        c.broken = true;
        toSettle_.push_back(c.id());
        return;
    }
    if (static_cast<std::size_t>(written) == slice.size())
        return;
    Slice rest = slice;
    rest.consume(static_cast<std::size_t>(written));
    c.output.push(rest);
    queued(c);
}

void LobbyServer::sendFramed(ConnectionId to, std::string_view messages)
{
    // Only an answer (a user list) comes as one piece; anything else takes the common way.
    if (to != feeding_ || messages.empty()) {
        Outbox::sendFramed(to, messages);
        return;
    }
    Connection* c = find(to);
    if (!c || !c->inLobby || c->overfull)
        return;
    answerPending_ = true;
    while (!messages.empty()) {
        const Slice& slice = answers_.copyFramed(messages);
        messages.remove_prefix(slice.size());
        c->output.push(slice);
    }
    queued(*c);
}

// Output was added to the connection's queue: over its cap it is dropped, else it is written
// at the end of this pass (an answer) or in the next round (a broadcast).
void LobbyServer::queued(Connection& c)
{
    const ConnectionId to = c.id();
    if (c.output.bytes() > outputLimit_) {
        // Over the cap only counts what the kernel refuses: offer it first.
        if (!c.flush()) {
            c.broken = true;
            toSettle_.push_back(to);
            return;
        }
        if (c.output.bytes() > outputLimit_) {
            c.overfull = true;
            c.output.clear();
            toSettle_.push_back(to);
            return;
        }
    }
    if (c.queuedToFlush)
        return;
    if (to == feeding_) {
        // An answer to the connection's own request goes out at the end of this pass.
        c.queuedToFlush = true;
        toFlush_.push_back(to);
    } else if (!c.queuedLater) {
        c.queuedLater = true;
        if (toLater_.empty())
            laterSince_ = std::chrono::steady_clock::now();
        toLater_.push_back(to);
    } else {
        return;
    }
    schedule();
}

void LobbyServer::drop(ConnectionId who, DropKind how)
{
    Connection* c = find(who);
    if (!c || !c->inLobby)
        return;
    c->inLobby = false;
    --open_;
    if (how == DropKind::Abort) {
        c->output.clear();
        toSettle_.push_back(who);
        return;
    }
    c->closing = true;
    c->grace = std::make_unique<asio::steady_timer>(io_, CloseGrace);
    c->grace->async_wait([this, who](const std::error_code& error) {
        if (error)
            return;
        if (Connection* c = find(who))
            destroy(*c);
    });
    if (!c->queuedToFlush) {
        c->queuedToFlush = true;
        toFlush_.push_back(who);
    }
    schedule();
}

void LobbyServer::note(ConnectionId who, LogLevel level, std::string_view what)
{
    if (!log_ || !log_->enabled(level))
        return;
    std::string line;
    if (const Connection* c = who ? find(who) : nullptr) {
        line = c->peer();
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

void LobbyServer::markAnswer(ConnectionId who)
{
    if (Connection* c = find(who))
        c->listMark = c->output.pushed();
}

bool LobbyServer::answerPending(ConnectionId who) const
{
    const std::uint32_t slot = slotOf(who);
    if (slot >= slots_.size() || !slots_[slot] || slots_[slot]->id() != who)
        return false;
    const Connection& c = *slots_[slot];
    return c.output.written() < c.listMark;
}

} // namespace stonecall::server
