#pragma once
// The listening socket. A crowd arriving together is taken together; with no descriptor free
// the newcomers wait in the backlog until a connection closes (or a retry), rather than the
// loop spinning on a failing accept.

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace stonecall::server {

// Sockets bound to the loop's own executor rather than the polymorphic one: smaller, and so
// is every wait they have pending (thousands of idle connections each keep one).
using Socket = asio::basic_stream_socket<asio::ip::tcp, asio::io_context::executor_type>;

// A peer's address, IPv4 as such also when it came in on an IPv6 socket; empty when unknown.
std::string peerAddress(const Socket& socket);
// The address and port as the log shows them.
std::string peerName(const Socket& socket);

class Listener {
public:
    using Opened = std::function<void(Socket)>;
    using Warn = std::function<void(const std::string&)>;
    // Accepted sockets are non-blocking, send at once, and have `sendBuffer` bytes of kernel
    // send buffer (0: the system's).
    Listener(asio::io_context& io, int sendBuffer, Opened opened, Warn warn);

    // On every address (IPv6 and IPv4) when `address` is empty; port 0 lets the system choose.
    bool listen(const std::string& address, std::uint16_t port);
    std::uint16_t port() const;
    const std::string& errorString() const { return error_; }
    bool listening() const { return acceptor_.is_open(); }
    void close();
    // A descriptor came free: accepting goes on if it waited for one.
    void descriptorFreed();

private:
    void accept();
    void failed(const std::error_code& error);
    void take(Socket socket);

    asio::basic_socket_acceptor<asio::ip::tcp, asio::io_context::executor_type> acceptor_;
    asio::steady_timer retry_;
    int sendBuffer_;
    Opened opened_;
    Warn warn_;
    bool paused_ = false;
    std::string error_;
};

} // namespace stonecall::server
