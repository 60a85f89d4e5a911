#include "Connection.h"

#include <asio/error.hpp>

namespace stonecall::server {

namespace {

// Most pieces asio hands to one gathered write.
constexpr std::size_t GatherPieces = 64;
// Input kept for a connection between bursts; more is given back once handled.
constexpr std::size_t KeptInput = 1024;

} // namespace

Connection::Connection(ConnectionId id, asio::ip::tcp::socket socket)
    : id_(id), socket_(std::move(socket))
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
