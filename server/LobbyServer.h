#pragma once
// The lobby on real sockets: one thread, one event loop (epoll underneath). Accepts
// connections, hands their bytes to the Lobby a small portion at a time, and writes answers
// once per pass of the loop in gathered writes. Broadcasts made while requests are answered
// wait for a round, so a lobby filling up costs each reader one write for many log-ins.
// Output a peer's kernel refuses waits in a queue with a cap; going over the cap drops the peer.

#include "Connection.h"
#include "Lobby.h"
#include "Log.h"
#include "OutputQueue.h"
#include "Rounds.h"
#include "SendBatch.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace stonecall::server {

struct ServerConfig {
    LobbyConfig lobby;
    std::chrono::milliseconds pingInterval{30000}; // 0: no pings and no challenges
    // Bytes that may wait for a peer; 0 derives it from maxUsers so a full user list fits.
    std::size_t outputLimit = 0;
    int socketSendBuffer = 0; // kernel send buffer of accepted sockets; 0: the system's
    bool gatherWrites = true; // through io_uring where the kernel offers it; else a call each
};

class LobbyServer : private Outbox {
public:
    explicit LobbyServer(ServerConfig config);
    ~LobbyServer() override;
    LobbyServer(const LobbyServer&) = delete;
    LobbyServer& operator=(const LobbyServer&) = delete;

    // On every address (IPv6 and IPv4) when `address` is empty; port 0 lets the system
    // choose, and port() then tells which.
    bool listen(const std::string& address = {}, std::uint16_t port = 0);
    std::uint16_t port() const;
    std::string errorString() const { return error_; }

    // Runs the loop until stop(). poll() runs what is ready, waiting at most `wait` for
    // something to happen, for a caller that drives the loop itself (tests).
    void run();
    void poll(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    void stop();
    // Closes the listening socket for good: a newcomer is refused at once rather than let in
    // to a lobby about to close.
    void stopListening();
    asio::io_context& context() { return io_; }

    // Takes a reloaded configuration without dropping anyone: the message of the day, the
    // user limit and the ping interval. The address and port stay as they are.
    void reconfigure(const ServerConfig& config);

    const Lobby& lobby() const { return lobby_; }
    // A broadcast's writes go to the kernel together, not one system call each.
    bool gathersWrites() const { return batch_.gathers(); }
    // For the operator's commands and notices, run on this loop; what they send goes out at
    // the next pass.
    Lobby& lobby() { return lobby_; }
    std::size_t queuedBytes() const;
    // What went in and out since the start, for the operator's figures.
    struct Traffic {
        std::uint64_t messagesIn = 0, bytesIn = 0, messagesOut = 0, bytesOut = 0;
    };
    const Traffic& traffic() const { return traffic_; }
    // Where events go, each line naming the peer's address and user; none: no log.
    void setLog(Log* log) { log_ = log; }

private:
    // The slot of a connection id; the rest of the id is the slot's generation.
    static std::uint32_t slotOf(ConnectionId id)
    {
        return static_cast<std::uint32_t>(id & 0xffffffffu);
    }
    Connection* find(ConnectionId id);
    void accept();
    void acceptFailed(const std::error_code& error);
    void resumeAccepting();
    void opened(Socket socket);
    void armRead(Connection& c);
    void readFrom(ConnectionId id);
    void armWrite(Connection& c);
    void schedule();
    void pass();
    void feed(Connection& c);
    void flush(Connection& c);
    void flushRound();
    void trimLater();
    void trimNow(bool idle);
    void settle();
    void destroy(Connection& c);
    void tick();
    void armTicker();
    void armSweeper();

    void send(ConnectionId to, std::string_view message) override;
    void broadcast(std::span<const ConnectionId> to, std::string_view message) override;
    void deliver(Connection& c, const Slice& slice);
    // What follows a write at once: the rest queued, or a broken socket settled.
    void wrote(Connection& c, const Slice& slice, long written);
    void endGathering();
    // Writes out the queues of these connections (as flush()), the writes handed over
    // together; `unmark` clears the mark that put each on the list.
    template <typename Unmark> void flushEach(const std::vector<ConnectionId>& ids, Unmark unmark);
    void endStaged();
    void queued(Connection& c);
    void drop(ConnectionId who, DropKind how) override;
    void note(ConnectionId who, LogLevel level, std::string_view what) override;

    asio::io_context io_;
    ServerConfig config_;
    std::size_t outputLimit_;
    std::size_t maxConnections_;
    Lobby lobby_;
    Acceptor acceptor_;
    asio::steady_timer ticker_;
    asio::steady_timer sweeper_; // the lobby's once-a-second deadlines
    asio::steady_timer acceptRetry_;
    asio::steady_timer passTimer_;
    asio::steady_timer trimTimer_;
    std::chrono::steady_clock::time_point nextPass_;
    // When the pass to come is due; none is scheduled without it.
    std::optional<std::chrono::steady_clock::time_point> passAt_;
    Rounds rounds_; // when answers and broadcasts go out
    std::uint32_t passes_ =
        0; // passes run (wrapping), so a reader is written at once once per pass
    std::uint64_t trimmedAt_ = 0; // framed bytes at the last return of memory
    bool acceptPaused_ = false;
    bool inPass_ = false;
    std::string error_;

    // Connections by slot; a ConnectionId carries its slot and a generation.
    std::vector<std::unique_ptr<Connection>> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::uint32_t generation_ = 0;
    std::size_t open_ = 0; // connections the lobby knows
    Traffic traffic_;

    std::vector<ConnectionId> toRun_;    // input waiting, in turn
    std::vector<ConnectionId> toFlush_;  // answers (and closes) written since the last pass
    std::vector<ConnectionId> toLater_;  // broadcasts, for the next round
    std::vector<ConnectionId> toSettle_; // over the cap, or found dead while writing
    std::vector<ConnectionId> running_;  // the list a pass works through
    // Broadcasts and answers are framed apart: the blocks of a user list then go as soon as
    // it is written, not when the last reader of a broadcast framed beside it is.
    Framer framer_;
    Framer answers_;
    // A broadcast's writes at once, handed to the kernel together at its end.
    struct InFlight {
        ConnectionId to;
        Slice slice;
    };
    std::vector<InFlight> inFlight_;
    // A round's writes of queued output, handed to the kernel together in chunks. A queue
    // rarely holds more than a piece or two; what lies beyond these goes out by flush().
    static constexpr std::size_t StagedPieces = 4;
    struct Staged {
        ConnectionId to;
        std::size_t offered;
        msghdr header;
        std::array<iovec, StagedPieces> pieces;
    };
    std::vector<Staged> staged_;
    SendBatch batch_; // after inFlight_: the writes end before what they write from goes
    bool gathering_ = false;
    std::vector<char> readBuffer_;
    Log* log_ = nullptr;
};

} // namespace stonecall::server
