#include "protocol/SendCommand.h"

#include "platform/Socket.h"
#include "wire/Wire.h"

namespace stonecall {

void SendCommand(Socket& socket, std::string text)
{
    if (!socket.isConnected())
        return;
    text.push_back(MsgEnd);
    socket.SendData(text);
}

} // namespace stonecall
