#pragma once
// One client's socket as the server sees it: what it sent that the lobby has not taken yet,
// and what waits to be written to it.

#include "Lobby.h"
#include "OutputQueue.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace stonecall::server {

// A peer's address and port for the log: IPv4 as such also when it came in on an IPv6 socket.
std::string peerName(const asio::ip::tcp::socket& socket);

class Connection {
public:
    Connection(ConnectionId id, asio::ip::tcp::socket socket);

    ConnectionId id() const { return id_; }
    // The peer's address and port as the log shows it.
    const std::string& peer() const { return peer_; }
    asio::ip::tcp::socket& socket() { return socket_; }

    // Unhandled input: bytes read from the socket that the lobby has not had yet.
    std::string input;
    std::size_t inputDone = 0;
    bool hasInput() const { return inputDone < input.size(); }
    void takeInput(std::size_t count);

    OutputQueue output;
    // Writes as much of the queue as the kernel takes, in gathered writes; false when the
    // socket failed (the peer is gone).
    bool flush();
    // Writes bytes at once, bypassing an empty queue; how many the kernel took, or -1 when the
    // socket failed.
    long writeNow(const Slice& slice);

    // Where the connection stands.
    bool inLobby = true;           // the lobby knows it; false once dropped or lost
    bool closing = false;          // dropped with DropKind::Close: last bytes go out, then it ends
    bool shutDown = false;         // closing, and everything went out
    bool peerClosed = false;       // the peer sent its end: only input already read remains
    bool broken = false;           // the socket failed
    bool overfull = false;         // over its output cap: to be dropped
    bool readArmed = false;        // waiting for bytes
    bool writeArmed = false;       // waiting for room in the kernel
    bool queuedToFlush = false;    // answers (or a close) to write at the end of this pass
    bool queuedLater = false;      // broadcasts, which may wait for the next round
    bool queuedToRun = false;      // has input waiting for its turn
    std::uint64_t listMark = 0;    // end of the last user list in the output stream
    std::uint64_t wroteInPass = 0; // the pass that last wrote to it at once
    std::unique_ptr<asio::steady_timer> grace;

private:
    ConnectionId id_;
    asio::ip::tcp::socket socket_;
    std::string peer_;
};

} // namespace stonecall::server
