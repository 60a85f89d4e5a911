#include "Connection.h"

#include <asio/error.hpp>

namespace stonecall::server {

namespace {

// Most pieces asio hands to one gathered write.
constexpr std::size_t GatherPieces = 64;
// Input kept for a connection between bursts; more is given back once handled.
constexpr std::size_t KeptInput = 1024;

} // namespace

std::string peerName(const asio::ip::tcp::socket& socket)
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

Connection::Connection(ConnectionId id, asio::ip::tcp::socket socket)
    : id_(id), socket_(std::move(socket)), peer_(peerName(socket_))
{}

void Connection::takeInput(std::size_t count)
{
    inputDone += count;
    if (inputDone < input.size())
        return;
    inputDone = 0;
    if (input.capacity() > KeptInput)
        std::string().swap(input);
    else
        input.clear();
}

bool Connection::flush(std::vector<asio::const_buffer>& scratch)
{
    while (!output.empty()) {
        scratch.clear();
        std::size_t offered = 0;
        output.peek(GatherPieces, [&](const char* data, std::size_t size) {
            scratch.emplace_back(data, size);
            offered += size;
        });
        std::error_code error;
        const std::size_t written = socket_.write_some(scratch, error);
        if (error == asio::error::would_block || error == asio::error::try_again)
            return true;
        if (error)
            return false;
        output.consume(written);
        if (written < offered)
            return true; // the kernel is full; the rest waits
    }
    return true;
}

} // namespace stonecall::server
