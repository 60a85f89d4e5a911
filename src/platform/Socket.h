#pragma once
// An event-driven TCP socket. Events arrive on the one window thread, one at a time.
// Every byte 0 to 255 travels unchanged in both directions.

#include <cstddef>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace stonecall {

class Socket {
public:
    virtual ~Socket() = default;

    // Returns at once; onConnect follows when the connection stands, onError when it fails.
    virtual void Connect(const std::string& host, int port) = 0;
    // Closing a socket that is not open is harmless. Raises no event.
    virtual void Close() = 0;
    virtual void SendData(std::string_view bytes) = 0;
    // The bytes that have arrived and not been read yet, at most maxBytes of them.
    virtual std::string GetData(std::size_t maxBytes = std::numeric_limits<std::size_t>::max()) = 0;
    virtual bool isConnected() const = 0;
    // Bytes handed to SendData that have not gone out to the system yet.
    virtual std::size_t unsentBytes() const = 0;
    // The dotted local IPv4 address of a standing connection.
    virtual std::string LocalIP() const = 0;
    // Records the local port; nothing binds or listens on it.
    virtual void setLocalPort(int port) = 0;
    virtual int LocalPort() const = 0;
    // Takes the pending incoming connection with this request identifier.
    virtual void Accept(int requestId) = 0;

    std::function<void()> onConnect;
    std::function<void()> onClose; // the peer closed the connection
    std::function<void(std::size_t bytesWaiting)> onDataArrival;
    std::function<void(const std::string& reason)> onError;
    std::function<void(int requestId)> onConnectionRequest;
};

} // namespace stonecall
