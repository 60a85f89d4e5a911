#include "link/ListenerModule.h"

#include "ui/Socket.h"

namespace stonecall {

ListenerModule::ListenerModule(Socket& VLan0, Dialogs& dialogs, Application& app,
                               std::function<void()> ensureLobbyLoaded)
    : VLan0_(VLan0), dialogs_(dialogs), app_(app), ensureLobbyLoaded_(std::move(ensureLobbyLoaded))
{
}

void ListenerModule::StartListener()
{
    LinkFieldSep = static_cast<char>(169);
    LinkMsgEnd = static_cast<char>(174);
    LinkSpareMark = static_cast<char>(171);
    LinkAddress = "127.0.0.1";
    LinkPort = 8057;
    ensureLobbyLoaded_();
    VLan0_.setLocalPort(LinkPort);
}

} // namespace stonecall
