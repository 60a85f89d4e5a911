#pragma once
// The client's side of the local game link: a socket on the loopback address that is given
// its port at start and otherwise stays idle.

#include <cstdint>
#include <functional>
#include <string>

namespace stonecall {

class Application;
class Dialogs;
class Socket;

class ListenerModule {
public:
    // ensureLobbyLoaded creates the lobby window (hidden) if it does not exist yet.
    ListenerModule(Socket& VLan0, Dialogs& dialogs, Application& app,
                   std::function<void()> ensureLobbyLoaded);

    void StartListener();

    char LinkFieldSep = 0;
    char LinkMsgEnd = 0;
    char LinkSpareMark = 0;
    std::string LinkAddress;
    std::int32_t LinkPort = 0;

private:
    Socket& VLan0_;
    Dialogs& dialogs_;
    Application& app_;
    std::function<void()> ensureLobbyLoaded_;
};

} // namespace stonecall
