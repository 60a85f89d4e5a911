#pragma once
// Where a trace of the conversation with the lobby server goes, for troubleshooting.

#include <string_view>

namespace stonecall {

class WireLog {
public:
    virtual ~WireLog() = default;
    // One whole message, without its MsgEnd, as it went to the socket.
    virtual void sent(std::string_view message) = 0;
    // One whole message, without its MsgEnd, as it arrived and before it is acted on.
    virtual void received(std::string_view message) = 0;
};

} // namespace stonecall
