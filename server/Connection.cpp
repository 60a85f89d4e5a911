#include "Connection.h"

#include "SendBatch.h"

#include <asio/error.hpp>

#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>

namespace stonecall::server {

namespace {

// Most pieces asio hands to one gathered write.
constexpr std::size_t GatherPieces = 64;
// Input room kept for a connection once all is handled; more is given back (an idle
// connection keeps none beyond the string itself).
constexpr std::size_t KeptInput = 15;

} // namespace

std::string peerName(const Socket& socket)
{
    std::error_code error;
    const auto endpoint = socket.remote_endpoint(error);
    if (error)
        return "(unknown peer)";
    asio::ip::address address = endpoint.address();
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    const std::string port = std::to_string(endpoint.port());
    return address.is_v6() ? "[" + address.to_string() + "]:" + port
                           : address.to_string() + ":" + port;
}

Connection::Connection(ConnectionId id, Socket socket)
    : id_(id), socket_(std::move(socket)), peer_(peerName(socket_))
{}

void Connection::takeInput(std::size_t count)
{
    inputDone += static_cast<std::uint16_t>(count);
    if (inputDone < input.size())
        return;
    inputDone = 0;
    if (input.capacity() > KeptInput)
        std::string().swap(input);
    else
        input.clear();
}

long Connection::writeNow(const Slice& slice)
{
    return SendBatch::sendNow(socket_.native_handle(), slice.data(), slice.size());
}

std::size_t Connection::gather(std::span<iovec> pieces, std::size_t& bytes) const
{
    std::size_t count = 0;
    bytes = 0;
    output.peek(pieces.size(), [&](const char* data, std::size_t size) {
        pieces[count++] = iovec{const_cast<char*>(data), size};
        bytes += size;
    });
    return count;
}

bool Connection::flush()
{
    // Straight to the kernel rather than through asio's write: the socket is non-blocking and
    // a broadcast makes one write per reader, so the per-write overhead counts. Readiness for
    // writing is asked for only when the kernel refuses (LobbyServer::armWrite).
    const int fd = socket_.native_handle();
    while (!output.empty()) {
        iovec pieces[GatherPieces];
        std::size_t offered = 0;
        const std::size_t count = gather(pieces, offered);
        ssize_t written;
        if (count == 1) {
            written =
                ::send(fd, pieces[0].iov_base, pieces[0].iov_len, MSG_NOSIGNAL | MSG_DONTWAIT);
        } else {
            msghdr header{};
            header.msg_iov = pieces;
            header.msg_iovlen = count;
            written = ::sendmsg(fd, &header, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return true;
            if (errno == EINTR)
                continue;
            return false;
        }
        output.consume(static_cast<std::size_t>(written));
        if (static_cast<std::size_t>(written) < offered)
            return true; // the kernel is full; the rest waits
    }
    return true;
}

} // namespace stonecall::server
