#pragma once

#include <string>

namespace stonecall {

class Socket;

// The one way a message reaches the lobby server: the text gets its MsgEnd and goes out in
// one piece. On a socket that is not connected nothing is sent and nothing reported.
void SendCommand(Socket& socket, std::string text);

} // namespace stonecall
