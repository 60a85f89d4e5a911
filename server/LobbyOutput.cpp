// The lobby server's output: passes over the connections with work, what the lobby says
// queued per connection and written when Rounds says, and memory given back after a burst.

#include "LobbyServer.h"

#include <asio/post.hpp>

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
constexpr std::size_t FlushPieces = 64; // of a queue, in one write outside a batch

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
        asio::post(io_, [this] { pass(); }); // behind what the loop has ready
        return;
    }
    passAt_ = due;
    passTimer_.expires_at(due); // replaces a later wait
    passTimer_.async_wait([this](std::error_code error) {
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
    // Then the answers, and the broadcasts when their round is due.
    flushList(toFlush_);
    if (!toLater_.empty() && rounds_.roundDue(Clock::now())) {
        const auto start = Clock::now();
        flushList(toLater_);
        rounds_.roundTook(Clock::now() - start);
        trim(false);
    }
    rounds_.endPass();
    inPass_ = false;
    schedule();
    if (framer_.framedBytes() + answers_.framedBytes() - trimmedAt_ >= TrimAfterBytes) {
        trimTimer_.expires_after(TrimDelay); // from the last pass
        trimTimer_.async_wait([this](const std::error_code& error) {
            if (!error)
                trim(true);
        });
    }
}

void LobbyServer::flushList(std::vector<ConnectionId>& list)
{
    while (!list.empty()) { // letting one go tells everyone, which may put more on the list
        running_.swap(list);
        for (const ConnectionId id : running_) {
            Connection* c = find(id);
            if (!c || c->due == Connection::Due::None)
                continue; // written already: a connection can be on both lists, or twice on one
            c->due = Connection::Due::None;
            if (c->output.empty() || c->writeArmed || c->link == Connection::Link::Failed)
                flush(*c);
            else
                stage(*c);
        }
        endWrites();
        running_.clear();
        settle();
    }
}

void LobbyServer::trim(bool idle)
{
    // After a round or a burst: the allocator keeps freed pages that lie between live objects.
    const std::uint64_t framed = framer_.framedBytes() + answers_.framedBytes();
    if (framed - trimmedAt_ < (idle ? TrimAfterBytes : RoundTrimAfterBytes))
        return;
    trimmedAt_ = framed;
    if (idle) {
        lobby_.releaseRoom();
        std::vector<Write>().swap(writes_);
        framer_.release();
        answers_.release();
    }
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void LobbyServer::send(ConnectionId to, std::string_view message)
{
    Connection* c = find(to);
    if (!c || c->stage != Connection::Stage::InLobby)
        return;
    ++traffic_.messagesOut;
    traffic_.bytesOut += message.size() + 1;
    if (to == rounds_.handled()) {
        rounds_.toSender();
        c->output.push(answers_.frame(message, c->output.endsWith(answers_.last())));
        queued(*c);
    } else {
        rounds_.toOther(); // to someone other than the sender, or outside anyone's input
        deliver(*c, framer_.frame(message, c->output.endsWith(framer_.last())));
    }
    if (!writes_.empty())
        endWrites();
}

void LobbyServer::broadcast(std::span<const ConnectionId> to, std::string_view message)
{
    // Framed once for all; a reader that holds the last copy already gets a fresh one right
    // behind it, so that the two merge into one slice.
    bool framed = false;
    for (const ConnectionId id : to) {
        Connection* c = find(id);
        if (!c || c->stage != Connection::Stage::InLobby)
            continue;
        ++traffic_.messagesOut;
        traffic_.bytesOut += message.size() + 1;
        const bool holdsLast = c->output.endsWith(framer_.last());
        const Slice& slice =
            framed && !holdsLast ? framer_.last() : framer_.frame(message, holdsLast);
        framed = true;
        if (id == rounds_.handled()) {
            c->output.push(slice); // the sender's copy goes with its answers
            queued(*c);
        } else {
            rounds_.toOther();
            deliver(*c, slice);
        }
    }
    if (!writes_.empty())
        endWrites();
}

void LobbyServer::deliver(Connection& c, const Slice& slice)
{
    // A broadcast in a pass that answers nothing (a chat line in a quiet lobby) goes to each
    // reader as the lobby sends it, as long as nothing waits before it: the first reader need
    // not wait for the last one's copy to be queued. Once per reader and pass, so a burst of
    // lines still shares one write per pass.
    const bool atOnce = rounds_.atOnce() && toLater_.empty() && c.output.empty() && !c.writeArmed &&
                        c.link != Connection::Link::Failed && c.wroteInPass != passes_;
    c.output.push(slice);
    if (!atOnce) {
        queued(c);
        return;
    }
    c.wroteInPass = passes_;
    stage(c);
}

// Output was added to the connection's queue: over its cap it is dropped, else it is written
// at the end of this pass (an answer) or in the next round (a broadcast).
void LobbyServer::queued(Connection& c)
{
    const ConnectionId to = c.id;
    if (c.output.bytes() > outputLimit_) {
        // Over the cap only counts what the kernel refuses: offer it first.
        if (!writeOut(c)) {
            failed(c);
            return;
        }
        if (c.output.bytes() > outputLimit_) {
            c.stage = Connection::Stage::Overfull;
            c.output.clear();
            toSettle_.push_back(to);
            return;
        }
    }
    if (to == rounds_.handled()) {
        dueAtPassEnd(c);
    } else if (c.due == Connection::Due::None) {
        c.due = Connection::Due::Round;
        if (toLater_.empty())
            rounds_.waiting(std::chrono::steady_clock::now());
        toLater_.push_back(to);
        schedule();
    }
}

void LobbyServer::dueAtPassEnd(Connection& c)
{
    if (c.due == Connection::Due::Pass)
        return;
    c.due = Connection::Due::Pass;
    toFlush_.push_back(c.id);
    schedule();
}

void LobbyServer::stage(Connection& c)
{
    if (writes_.capacity() < SendBatch::Entries)
        writes_.reserve(SendBatch::Entries);
    Write& write = writes_.emplace_back();
    write.to = c.id;
    write.header = msghdr{};
    write.header.msg_iov = write.pieces.data();
    write.header.msg_iovlen = c.output.gather(write.pieces, write.offered);
    batch_.add(c.socket.native_handle(), write.header, write.written);
    if (writes_.size() == SendBatch::Entries)
        endWrites();
}

void LobbyServer::endWrites()
{
    batch_.finish();
    for (const Write& write : writes_) {
        Connection* c = find(write.to);
        if (!c)
            continue;
        if (write.written < 0) {
            failed(*c);
            continue;
        }
        c->output.consume(static_cast<std::size_t>(write.written));
        if (static_cast<std::size_t>(write.written) < write.offered)
            armWrite(*c); // the kernel is full: the rest waits for room
        else
            flush(*c); // what lay beyond the pieces written, or the end of a closing one
    }
    writes_.clear();
}

bool LobbyServer::writeOut(Connection& c)
{
    // Straight to the kernel rather than through asio's write, whose overhead a broadcast
    // would pay once per reader; readiness is asked for only when the kernel refuses.
    while (!c.output.empty()) {
        std::array<iovec, FlushPieces> pieces;
        std::size_t offered = 0;
        msghdr header{};
        header.msg_iov = pieces.data();
        header.msg_iovlen = c.output.gather(pieces, offered);
        const long written = SendBatch::sendNow(c.socket.native_handle(), header);
        if (written < 0)
            return false;
        c.output.consume(static_cast<std::size_t>(written));
        if (static_cast<std::size_t>(written) < offered)
            return true; // the kernel is full; the rest waits
    }
    return true;
}

void LobbyServer::flush(Connection& c)
{
    if (c.writeArmed || c.link == Connection::Link::Failed)
        return;
    if (!writeOut(c)) {
        failed(c);
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
        c.socket.shutdown(asio::socket_base::shutdown_send, error);
        armRead(c);
    }
}

} // namespace stonecall::server
