// The lobby server's output: passes over the connections with work, what the lobby says
// queued per connection and written in rounds, and memory given back after a burst.

#include "LobbyServer.h"

#include "wire/Wire.h"

#include <algorithm>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace stonecall::server {

namespace {

// Passes come at most this often while there is work, so that what arrives in between is
// answered together: a connection then gets one write for many messages (a lobby filling up
// costs far fewer system calls). An idle server answers at once.
constexpr auto PassInterval = std::chrono::milliseconds(1);
// After this long without a pass, memory freed since the last burst goes back to the system
// (the allocator keeps freed pages otherwise). Even a small burst leaves its freed blocks as
// resident holes between the connections' own memory, so a little output is enough.
constexpr auto TrimDelay = std::chrono::seconds(1);
constexpr std::uint64_t TrimAfterBytes = 256 * 1024;
constexpr std::uint64_t RoundTrimAfterBytes = 16 * 1024 * 1024;
// A peer that does not take its last bytes after a refusal is cut off after this time.
constexpr auto CloseGrace = std::chrono::seconds(5);

} // namespace

void LobbyServer::schedule()
{
    // A pass schedules the next one as it ends, once it knows what is left; a timer armed
    // for what it sends itself would only run an empty pass, and that pass would hold back
    // the next request by the pass interval.
    if (inPass_)
        return;
    using Clock = std::chrono::steady_clock;
    const bool work =
        !toRun_.empty() || !toFlush_.empty() || !toSettle_.empty() || rounds_.urgent();
    if (!work && toLater_.empty())
        return;
    // Broadcasts alone wait for their round; anything else for the pass interval.
    const Clock::time_point due = work ? nextPass_ : std::max(nextPass_, rounds_.due());
    if (passAt_ && due >= *passAt_)
        return;
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

void LobbyServer::pass()
{
    using Clock = std::chrono::steady_clock;
    passAt_.reset();
    inPass_ = true;
    nextPass_ = Clock::now() + PassInterval;
    rounds_.beginPass();
    ++passes_;
    // One portion of input from each connection that has some, in turn.
    running_.swap(toRun_);
    for (ConnectionId id : running_) {
        Connection* c = find(id);
        if (!c)
            continue;
        c->queuedToRun = false;
        rounds_.handling(id);
        feed(*c);
        rounds_.done();
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
    if (!toLater_.empty() && rounds_.roundDue(Clock::now()))
        flushRound();
    rounds_.endPass();
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
    rounds_.roundTook(std::chrono::steady_clock::now() - start);
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
        if (!batch_.gathers() || c->output.empty() || c->writeArmed ||
            c->link == Connection::Link::Failed) {
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
            c->link = Connection::Link::Failed;
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
    if (c.writeArmed || c.link == Connection::Link::Failed)
        return;
    if (!c.flush()) {
        c.link = Connection::Link::Failed;
        toSettle_.push_back(c.id());
        return;
    }
    if (!c.output.empty()) {
        armWrite(c);
        return;
    }
    if (c.stage == Connection::Stage::Closing) {
        // All is out: say so, and wait for the peer's end (or the grace time).
        c.stage = Connection::Stage::ShutDown;
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

void LobbyServer::send(ConnectionId to, std::string_view message)
{
    Connection* c = find(to);
    if (!c || c->stage != Connection::Stage::InLobby)
        return;
    ++traffic_.messagesOut;
    traffic_.bytesOut += message.size() + 1;
    // A broadcast is framed once: the connections after the first get the same bytes. The
    // same line again for a connection that has it already is the next broadcast.
    if (to != rounds_.handled()) {
        rounds_.toOther(answers_.holdsLast(message));
        deliver(*c, framer_.frame(message, c->output.endsWith(framer_.last())));
        return;
    }
    if (framer_.holdsLast(message) && !c->output.endsWith(framer_.last())) {
        c->output.push(framer_.last()); // its own copy of what the others got
    } else {
        rounds_.toSender();
        c->output.push(answers_.frame(message, c->output.endsWith(answers_.last())));
    }
    queued(*c);
}

void LobbyServer::broadcast(std::span<const ConnectionId> to, std::string_view message)
{
    // The first reader other than the one whose request is handled takes the common way,
    // which frames the message and settles whether an answer went before it; the others get
    // the same slice without comparing it again.
    bool framed = false;
    gathering_ = true;
    for (const ConnectionId id : to) {
        if (!framed || id == rounds_.handled() || rounds_.tentative()) {
            send(id, message);
            if (id != rounds_.handled())
                framed = framer_.holdsLast(message);
            continue;
        }
        Connection* c = find(id);
        if (!c || c->stage != Connection::Stage::InLobby)
            continue;
        ++traffic_.messagesOut;
        traffic_.bytesOut += message.size() + 1;
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
    if (rounds_.atOnce() && toLater_.empty() && c.output.empty() && !c.writeArmed &&
        c.link != Connection::Link::Failed && c.wroteInPass != passes_) {
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
        c.link = Connection::Link::Failed;
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

// Output was added to the connection's queue: over its cap it is dropped, else it is written
// at the end of this pass (an answer) or in the next round (a broadcast).
void LobbyServer::queued(Connection& c)
{
    const ConnectionId to = c.id();
    if (c.output.bytes() > outputLimit_) {
        // Over the cap only counts what the kernel refuses: offer it first.
        if (!c.flush()) {
            c.link = Connection::Link::Failed;
            toSettle_.push_back(to);
            return;
        }
        if (c.output.bytes() > outputLimit_) {
            c.stage = Connection::Stage::Overfull;
            c.output.clear();
            toSettle_.push_back(to);
            return;
        }
    }
    if (c.queuedToFlush)
        return;
    if (to == rounds_.handled()) {
        // An answer to the connection's own request goes out at the end of this pass.
        c.queuedToFlush = true;
        toFlush_.push_back(to);
    } else if (!c.queuedLater) {
        c.queuedLater = true;
        if (toLater_.empty())
            rounds_.waiting(std::chrono::steady_clock::now());
        toLater_.push_back(to);
    } else {
        return;
    }
    schedule();
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

} // namespace stonecall::server
