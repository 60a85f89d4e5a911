#include "Listener.h"

#include <asio/ip/v6_only.hpp>

#include <cerrno>

namespace stonecall::server {

namespace {

// Connections taken from the backlog at a time before others get their turn.
constexpr int AcceptBatch = 256;
// With no descriptor free, accepting waits for a connection to close; in case descriptors
// come free elsewhere, it tries again after this time.
constexpr auto AcceptRetry = std::chrono::seconds(10);

bool outOfDescriptors(const std::error_code& error)
{
    // Asio reports system errors in a category of its own, which std::errc does not match.
    if (error.category() != asio::error::get_system_category())
        return false;
    const int number = error.value();
    return number == EMFILE || number == ENFILE || number == ENOBUFS || number == ENOMEM;
}

asio::ip::address unmapped(asio::ip::address address)
{
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    return address;
}

} // namespace

std::string peerAddress(const Socket& socket)
{
    std::error_code error;
    const auto endpoint = socket.remote_endpoint(error);
    return error ? std::string() : unmapped(endpoint.address()).to_string();
}

std::string peerName(const Socket& socket)
{
    std::error_code error;
    const auto endpoint = socket.remote_endpoint(error);
    if (error)
        return "(unknown peer)";
    const asio::ip::address address = unmapped(endpoint.address());
    const std::string port = std::to_string(endpoint.port());
    return address.is_v6() ? "[" + address.to_string() + "]:" + port
                           : address.to_string() + ":" + port;
}

Listener::Listener(asio::io_context& io, int sendBuffer, Opened opened, Warn warn)
    : acceptor_(io), retry_(io), sendBuffer_(sendBuffer), opened_(std::move(opened)),
      warn_(std::move(warn))
{}

void Listener::take(Socket socket)
{
    std::error_code error;
    socket.non_blocking(true, error);
    // Lobby messages are small and interactive; do not hold them back to fill packets.
    socket.set_option(asio::ip::tcp::no_delay(true), error);
    if (sendBuffer_ > 0)
        socket.set_option(asio::socket_base::send_buffer_size(sendBuffer_), error);
    opened_(std::move(socket));
}

bool Listener::listen(const std::string& address, std::uint16_t port)
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
    return true;
}

std::uint16_t Listener::port() const
{
    std::error_code error;
    const auto endpoint = acceptor_.local_endpoint(error);
    return error ? 0 : endpoint.port();
}

void Listener::close()
{
    paused_ = false;
    retry_.cancel();
    std::error_code ignored;
    acceptor_.close(ignored);
}

void Listener::accept()
{
    if (!acceptor_.is_open())
        return;
    acceptor_.async_accept([this](const std::error_code& error, Socket socket) {
        if (error == asio::error::operation_aborted)
            return;
        if (error) {
            failed(error);
            return;
        }
        take(std::move(socket));
        // Take everyone who waits now, so a crowd arriving together is answered together.
        for (int i = 0; i < AcceptBatch; ++i) {
            std::error_code e;
            Socket next = acceptor_.accept(e);
            if (e == asio::error::would_block || e == asio::error::try_again)
                break;
            if (e) {
                failed(e);
                return;
            }
            take(std::move(next));
        }
        accept();
    });
}

void Listener::failed(const std::error_code& error)
{
    if (!outOfDescriptors(error)) {
        accept(); // the peer gave up before it was taken: nothing to wait for
        return;
    }
    // The waiting peer stays in the backlog; trying again now would fail again at once.
    warn_("accept: " + error.message() + "; waiting for a connection to close");
    paused_ = true;
    retry_.expires_after(AcceptRetry);
    retry_.async_wait([this](const std::error_code& e) {
        if (!e)
            descriptorFreed();
    });
}

void Listener::descriptorFreed()
{
    if (!paused_)
        return;
    paused_ = false;
    retry_.cancel();
    accept();
}

} // namespace stonecall::server
