#pragma once
// The operator's way in: a Unix-domain stream socket on the server's event loop that only the
// server's own user may use (mode 0600, created so from the start). Each connection sends
// command lines and reads the replies (Control). A line is bounded, only one reply per
// connection is held at a time, and so are the connections at once and their idle time, so a
// faulty local client cannot make the server grow.
//
// The operator is answered even when the lobby's peers hold every descriptor the server may
// open: one descriptor is kept in reserve and given up to take the operator's connection
// when accepting fails for want of one; taken back when that connection closes. Without it,
// accepting waits for a descriptor to come free instead of failing again and again.

#include "Control.h"
#include "Log.h"

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace stonecall::server {

class ControlSocket {
public:
    static constexpr std::size_t MaxConnections = 8;
    static constexpr std::chrono::seconds IdleTime{60};

    ControlSocket(asio::io_context& io, Control& control, Log* log);
    // Closes every connection and removes the socket (when it is still the one this made).
    // Destroy it only while its loop does not run (its handlers refer to it).
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Listens at `path`. A socket a stopped server left there is removed; anything else at the
    // path, a link included, is left alone and refused, as is a socket another server still
    // listens on. A message on failure.
    std::optional<std::string> open(const std::string& path);

private:
    struct Client;
    void accept();
    void acceptFailed(const std::error_code& error);
    void admit(asio::local::stream_protocol::socket socket);
    void resume();
    void read(const std::shared_ptr<Client>& client);
    void serve(const std::shared_ptr<Client>& client);
    void reply(const std::shared_ptr<Client>& client, std::string text, bool thenClose);
    void armIdle(const std::shared_ptr<Client>& client);
    void close(const std::shared_ptr<Client>& client);
    void note(LogLevel level, const std::string& text);

    Control& control_;
    Log* log_;
    asio::local::stream_protocol::acceptor acceptor_;
    asio::steady_timer retry_; // accepting again while no descriptor is known to be free
    bool paused_ = false;
    int reserve_ = -1; // a descriptor held for the operator's connection
    std::vector<std::shared_ptr<Client>> clients_;
    std::string path_;
    dev_t device_ = 0; // the socket file this made, so only it is removed at the end
    ino_t inode_ = 0;
};

} // namespace stonecall::server
