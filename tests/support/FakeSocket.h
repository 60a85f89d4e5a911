#pragma once
// A socket that records what is sent and lets a test raise the events.

#include "platform/Socket.h"

#include <string>
#include <vector>

namespace stonecall::testing {

class FakeSocket final : public Socket {
public:
    void Connect(const std::string& host, int port) override
    {
        connectCalls.push_back(host + ":" + std::to_string(port));
        connected = false;
    }
    void Close() override
    {
        ++closeCalls;
        connected = false;
    }
    void SendData(std::string_view bytes) override { sent += bytes; }
    std::string GetData(std::size_t maxBytes) override
    {
        std::string data = incoming.substr(0, maxBytes);
        incoming.erase(0, data.size());
        return data;
    }
    bool isConnected() const override { return connected; }
    std::size_t unsentBytes() const override { return unsent; }
    std::string LocalIP() const override { return localIP; }
    void setLocalPort(int port) override { localPort = port; }
    int LocalPort() const override { return localPort; }
    void Accept(int requestId) override
    {
        accepted.push_back(requestId);
        connected = true;
    }

    // Test side.
    void raiseConnect()
    {
        connected = true;
        if (onConnect)
            onConnect();
    }
    void raiseClose()
    {
        connected = false;
        if (onClose)
            onClose();
    }
    void deliver(std::string_view bytes)
    {
        incoming += bytes;
        if (onDataArrival)
            onDataArrival(incoming.size());
    }
    // The messages sent so far, each without its end mark; clears the record.
    std::vector<std::string> takeSent();

    std::string sent;
    std::string incoming;
    std::vector<std::string> connectCalls;
    std::vector<int> accepted;
    int closeCalls = 0;
    std::size_t unsent = 0; // what the test says the system has not taken yet
    bool connected = false;
    std::string localIP = "127.0.0.1";
    int localPort = 0;
};

} // namespace stonecall::testing
