#pragma once
// The lobby on real sockets: one thread, one event loop (epoll underneath). Each connection's
// bytes go to the Lobby a small portion at a time; what the lobby says is queued per
// connection and written in gathered writes when Rounds says so. Output a peer's kernel
// refuses waits in a queue with a cap; going over the cap drops the peer.

#include "Listener.h"
#include "Lobby.h"
#include "Log.h"
#include "OutputQueue.h"
#include "Rounds.h"
#include "SendBatch.h"

#include <asio/steady_timer.hpp>

#include <sys/socket.h>

#include <array>
#include <chrono>
#include <cstdint>
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

// One client's socket. A few bits each, as thousands of idle connections keep them.
struct Connection {
    // How far the connection is on its way out.
    enum class Stage : std::uint8_t {
        InLobby,  // the lobby knows it
        Overfull, // over its output cap: the lobby lets it go at the next settling
        Closing,  // dropped with DropKind::Close: its last bytes go out, then it ends
        ShutDown, // closing, and everything went out: waits for the peer's end
        Aborted,  // dropped at once, its output discarded
    };
    // What the socket says. PeerEnded: the peer sent its end; only input already read remains.
    enum class Link : std::uint8_t { Up, PeerEnded, Failed };

    ConnectionId id;
    Socket socket;
    std::string peer; // as the log shows it
    OutputQueue output{};
    std::string input{}; // read, and not yet handed to the lobby
    Stage stage : 3 = Stage::InLobby;
    Link link : 2 = Link::Up;
    // When its queue is written: with the answers at the end of this pass (toFlush_), or in
    // the next round (toLater_).
    enum class Due : std::uint8_t { None, Round, Pass };
    Due due : 2 = Due::None;
    bool readArmed : 1 = false;
    bool writeArmed : 1 = false;   // the kernel refused: waits for room
    bool queuedToRun : 1 = false;  // on toRun_
    std::uint32_t wroteInPass = 0; // the pass that last wrote to it at once
    std::unique_ptr<asio::steady_timer> grace{};

    bool hasInput() const { return !input.empty(); }
    bool inLobby() const { return stage == Stage::InLobby || stage == Stage::Overfull; }
};

class LobbyServer : private Outbox {
public:
    explicit LobbyServer(ServerConfig config);
    ~LobbyServer() override;
    LobbyServer(const LobbyServer&) = delete;
    LobbyServer& operator=(const LobbyServer&) = delete;

    // As Listener::listen(); port() then tells which port the system chose.
    bool listen(const std::string& address = {}, std::uint16_t port = 0);
    std::uint16_t port() const { return listener_.port(); }
    std::string errorString() const { return listener_.errorString(); }

    // poll(): what is ready, after waiting at most `wait`, for a caller driving the loop.
    void run() { io_.run(); }
    void poll(std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    void stop() { io_.stop(); }
    // A newcomer is refused at once rather than let in to a lobby about to close.
    void stopListening() { listener_.close(); }
    asio::io_context& context() { return io_; }

    // A reloaded configuration, without dropping anyone; the address and port stay.
    void reconfigure(const ServerConfig& config);

    const Lobby& lobby() const { return lobby_; }
    bool gathersWrites() const { return batch_.gathers(); }
    Lobby& lobby() { return lobby_; } // for the operator, on this loop
    std::size_t queuedBytes() const;
    struct Traffic {
        std::uint64_t messagesIn = 0, bytesIn = 0, messagesOut = 0, bytesOut = 0;
    };
    const Traffic& traffic() const { return traffic_; }
    void setLog(Log* log) { log_ = log; } // lines name the peer's address and user

private:
    // A write handed to the kernel among others; SendBatch fills in `written`.
    struct Write {
        ConnectionId to;
        std::size_t offered;
        long written;
        msghdr header;
        std::array<iovec, 4> pieces; // a queue rarely holds more; flush() writes the rest
    };

    Connection* find(ConnectionId id);
    void opened(Socket socket);
    void repeat(asio::steady_timer& timer, const std::chrono::milliseconds& every,
                void (Lobby::*what)());
    void armRead(Connection& c);
    void armWrite(Connection& c);
    void readFrom(ConnectionId id);
    void feed(Connection& c);
    void failed(Connection& c);
    void settle();
    void destroy(Connection& c);

    void schedule();
    void pass();
    void flushList(std::vector<ConnectionId>& list); // until none is left on it
    void dueAtPassEnd(Connection& c);
    void trim(bool idle); // memory back to the system after a round, or when idle
    void deliver(Connection& c, const Slice& slice);
    void queued(Connection& c);
    void stage(Connection& c);
    void endWrites();
    bool writeOut(Connection& c);
    void flush(Connection& c);

    void send(ConnectionId to, std::string_view message) override;
    void broadcast(std::span<const ConnectionId> to, std::string_view message) override;
    void drop(ConnectionId who, DropKind how) override;
    void note(ConnectionId who, LogLevel level, std::string_view what) override;

    asio::io_context io_;
    ServerConfig config_;
    std::size_t outputLimit_;
    Lobby lobby_;
    Listener listener_;
    asio::steady_timer ticker_, sweeper_, passTimer_, trimTimer_;
    std::chrono::steady_clock::time_point nextPass_;
    std::optional<std::chrono::steady_clock::time_point> passAt_; // the pass scheduled
    Rounds rounds_;
    std::uint32_t passes_ = 0;    // wrapping, so a reader is written at once once per pass
    std::uint64_t trimmedAt_ = 0; // framed bytes at the last return of memory
    bool inPass_ = false;

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
    std::vector<Write> writes_; // at most SendBatch::Entries, so none moves while handed over
    SendBatch batch_;           // after writes_: its writes end before what they write from
    std::vector<char> readBuffer_;
    Log* log_ = nullptr;
};

} // namespace stonecall::server
