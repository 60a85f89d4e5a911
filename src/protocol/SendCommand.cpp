#include "protocol/SendCommand.h"

#include "protocol/Wire.h"
#include "ui/Socket.h"

namespace stonecall {

void SendCommand(Socket& socket, std::string text)
{
    if (!socket.isConnected())
        return;
    text.push_back(MsgEnd);
    socket.SendData(text);
}

} // namespace stonecall
