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

void LobbyServer::send(ConnectionId to, std::string_view message)
{
    Connection* c = find(to);
    if (!c || !c->inLobby || c->overfull)
        return;
    ++traffic_.messagesOut;
    traffic_.bytesOut += message.size() + 1;
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
    traffic_.messagesOut +=
        static_cast<std::uint64_t>(std::count(messages.begin(), messages.end(), MsgEnd));
    traffic_.bytesOut += messages.size();
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
