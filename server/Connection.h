#pragma once
// One client's socket as the server sees it: what it sent that the lobby has not taken yet,
// and what waits to be written to it.

#include "Lobby.h"
#include "OutputQueue.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <sys/uio.h>

#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>

namespace stonecall::server {

// Sockets bound to the loop's own executor rather than the polymorphic one: smaller, and so
// is every wait they have pending (thousands of idle connections each keep one).
using Socket = asio::basic_stream_socket<asio::ip::tcp, asio::io_context::executor_type>;
using Acceptor = asio::basic_socket_acceptor<asio::ip::tcp, asio::io_context::executor_type>;

// A peer's address and port for the log: IPv4 as such also when it came in on an IPv6 socket.
std::string peerName(const Socket& socket);

class Connection {
public:
    Connection(ConnectionId id, Socket socket);

    ConnectionId id() const { return id_; }
    // The peer's address and port as the log shows it.
    const std::string& peer() const { return peer_; }
    Socket& socket() { return socket_; }
    int descriptor() { return socket_.native_handle(); }

    OutputQueue output;
    // Writes as much of the queue as the kernel takes, in gathered writes; false when the
    // socket failed (the peer is gone).
    bool flush();
    // Writes bytes at once, bypassing an empty queue; how many the kernel took, or -1 when the
    // socket failed.
    long writeNow(const Slice& slice);
    // The oldest pieces of the queue, at most pieces.size() of them, for one gathered write;
    // how many, and their bytes in `bytes`.
    std::size_t gather(std::span<iovec> pieces, std::size_t& bytes) const;

    // Unhandled input: bytes read from the socket that the lobby has not had yet.
    std::string input;
    std::uint16_t inputDone = 0; // at most one read's worth (LobbyServer's ReadSize)
    bool hasInput() const { return inputDone < input.size(); }
    void takeInput(std::size_t count);

    // How far the connection is on its way out.
    enum class Stage : std::uint8_t {
        InLobby,  // the lobby knows it
        Overfull, // over its output cap: the lobby lets it go at the next settling
        Closing,  // dropped with DropKind::Close: its last bytes go out, then it ends
        ShutDown, // closing, and everything went out: waits for the peer's end
        Aborted,  // dropped at once, its output discarded
    };
    // What the socket itself says.
    enum class Link : std::uint8_t {
        Up,
        PeerEnded, // the peer sent its end: only input already read remains
        Failed,
    };
    bool inLobby() const { return stage == Stage::InLobby || stage == Stage::Overfull; }

    // A few bits each, as thousands of idle connections keep them.
    Stage stage : 3 = Stage::InLobby;
    Link link : 2 = Link::Up;
    // The lists it is on and the waits it has pending, each on its own.
    bool readArmed : 1 = false;     // waiting for bytes
    bool writeArmed : 1 = false;    // waiting for room in the kernel
    bool queuedToFlush : 1 = false; // answers (or a close) to write at the end of this pass
    bool queuedLater : 1 = false;   // broadcasts, which may wait for the next round
    bool queuedToRun : 1 = false;   // has input waiting for its turn
    std::uint32_t wroteInPass = 0;  // the pass that last wrote to it at once
    std::unique_ptr<asio::steady_timer> grace;

private:
    ConnectionId id_;
    Socket socket_;
    std::string peer_;
};

} // namespace stonecall::server
