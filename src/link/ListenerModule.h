#pragma once
// The client's side of the local game link: a socket on the loopback address that is given
// its port at start and otherwise stays idle. Should a peer connect, text arriving on it is
// shown raw, cut into messages, and the text of a SENDBROADCAST is shown to the user.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace stonecall {

class Application;
class Dialogs;
class Socket;

class ListenerModule {
public:
    // ensureLobbyLoaded creates the lobby window (hidden) if it does not exist yet. The module
    // takes VLan0's connection-request and data-arrival events for as long as it lives.
    ListenerModule(Socket& VLan0, Dialogs& dialogs, Application& app,
                   std::function<void()> ensureLobbyLoaded);
    ~ListenerModule();
    ListenerModule(const ListenerModule&) = delete;
    ListenerModule& operator=(const ListenerModule&) = delete;

    void StartListener();

    // VLan0's events.
    void VLan0_ConnectionRequest(int requestId);
    void VLan0_DataArrival(std::size_t bytesTotal);

    void ListenerReceive(std::int32_t bytesTotal);
    void HandleListenerMessage(std::string_view message);

    // Characters received and not yet cut into messages.
    std::string_view LinkBuffer() const;

    char LinkFieldSep = static_cast<char>(169);
    char LinkMsgEnd = static_cast<char>(174);
    char LinkSpareMark = static_cast<char>(171);
    std::string LinkAddress;
    std::int32_t LinkPort = 0;
    std::int32_t LinkMessageCount = 0; // messages cut so far, empty ones included
    std::string BroadcastText;

    // An unfinished message longer than this is dropped: a peer that never sends a
    // terminator must not make the buffer grow without bound.
    static constexpr std::size_t MaxUnfinishedMessage = 1024 * 1024;

private:
    bool cutNextMessage(std::string& message);
    void dropOversizedTail();

    Socket& VLan0_;
    Dialogs& dialogs_;
    Application& app_;
    std::function<void()> ensureLobbyLoaded_;
    // The buffer is buffer_ from consumed_ on. Cutting a message only advances consumed_, so
    // an arrival of many short messages costs what its bytes cost; the consumed front is
    // dropped once it is the larger part.
    std::string buffer_;
    std::size_t consumed_ = 0;
};

} // namespace stonecall
