#pragma once
// What the server message dispatcher reaches outside the protocol: the windows, the
// sending side, the views of the user table and the chat log.

#include <cstdint>
#include <string>
#include <string_view>

namespace stonecall {

class LoginWindow;
class LobbyWindow;

class ClientActions {
public:
    virtual ~ClientActions() = default;
    virtual void SendCommand(std::string text) = 0;
    virtual void ReturnToLogin() = 0;
    // The message wrote this entry of the user table; the trees look at it again when they
    // are next updated.
    virtual void entryChanged(std::int32_t index) = 0;
    virtual void UpdateUserList() = 0;
    virtual void ConstructHuts() = 0;
    virtual void AddLog(std::string_view line) = 0;
    virtual LoginWindow& loginWindow() = 0;
    virtual LobbyWindow& lobbyWindow() = 0;
};

} // namespace stonecall
