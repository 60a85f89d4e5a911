#pragma once
// One run of the client from start to end: the handlers of both windows and of the server
// socket, and the program-wide values they share.

#include "huts/HutActions.h"
#include "huts/HutList.h"
#include "link/ListenerModule.h"
#include "protocol/ClientActions.h"
#include "protocol/Dispatcher.h"
#include "roster/ChatLog.h"
#include "roster/UserList.h"
#include "session/Session.h"
#include "wire/ServerAddress.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stonecall {

class Application;
class Dialogs;
class LobbyWindow;
class LoginWindow;
class Socket;
class WireLog;

// The platform the client runs on; everything lives at least as long as the Client.
struct Platform {
    LoginWindow& login;
    LobbyWindow& lobby;
    Socket& WSClient;
    Socket& VLan0;
    Dialogs& dialogs;
    Application& app;
    WireLog* wireLog = nullptr; // a trace of every message, when set
};

class Client final : public ClientActions {
public:
    explicit Client(Platform platform);
    ~Client() override;

    // The login window.
    void LoginForm_Load();
    void LoginForm_Unload(); // the user closed the login window
    void cmdLogin_Click();

    // The lobby window.
    void LobbyForm_Load();
    void LobbyForm_QueryUnload();
    void cmdLogout_Click();
    void TxOut_KeyPress(int key);
    void TxChat_Click();
    void cmdCreate_Click() { huts_.cmdCreate_Click(); }
    void HutCount_Click(std::int16_t index) { huts_.HutCount_Click(index); }
    void cmdExit_Click() { huts_.cmdExit_Click(); }
    void cmdLaunch_Click() { huts_.cmdLaunch_Click(); }
    void lstHuts_DblClick() { huts_.lstHuts_DblClick(); }
    void Tabs_Click(int index);

    // The server socket.
    void WSClient_Connect();
    void WSClient_Close();
    void WSClient_Error(const std::string& reason);
    void WSClient_DataArrival(std::size_t bytesTotal);

    void ShutdownClient();

    // ClientActions
    void SendCommand(std::string text) override;
    void ReturnToLogin() override;
    void entryChanged(std::int32_t index) override;
    void UpdateUserList() override;
    void ConstructHuts() override;
    void AddLog(std::string_view line) override;
    LoginWindow& loginWindow() override { return platform_.login; }
    LobbyWindow& lobbyWindow() override { return platform_.lobby; }

    Session& session() { return session_; }
    ListenerModule& listener() { return listener_; }
    ChatLog& chat() { return chat_; }

    std::string ServerHost;
    int ServerPort = 0;
    // The lobby named on the command line; the built-in one when none is.
    std::optional<ServerAddress> chosenServer;

    // A server message longer than this without its end closes the connection.
    static constexpr std::size_t MaxMessageSize = 1024 * 1024;
    // Output the server has not taken yet; more closes the connection. The client's own
    // messages are short, so only a server that stops reading gets near it.
    static constexpr std::size_t MaxUnsentOutput = 1024 * 1024;

    // Status texts of our own; each fits the one line of the login window's status label.
    static constexpr const char* OversizedText = "Server message too long; closed.";
    static constexpr const char* UnsentText = "Server not reading; closed.";
    static constexpr const char* NameWithSeparatorText = "User name may not hold \xA4.";
    static constexpr const char* NameWithControlText = "User name may not hold controls.";
    // When the server ends the connection: the last public line it sent within NoticeWindow
    // before, which is how our lobby says why (a kick, a ban, its shutdown), or else this.
    static constexpr const char* ServerEndedText = "The server ended the connection.";
    // Our lobby warns of its shutdown 5 seconds (by default) before it closes.
    static constexpr std::chrono::seconds NoticeWindow{10};
    // What is kept of that line: all that a tooltip can usefully show.
    static constexpr std::size_t MaxNoticeText = 512;

    // Why a typed user name cannot be sent, as the status label shows it; nothing when it can.
    static std::optional<std::string> unsendableNameReason(std::string_view name);
    static constexpr const char* ClientVersion = "1";

private:
    // Every close of the server socket by the client goes through here.
    void closeServerSocket();

    Platform platform_;
    Session session_;
    Dispatcher dispatcher_;
    ListenerModule listener_;
    HutActions huts_;
    ChatLog chat_;
    UserList userList_;
    HutList hutList_;
    std::string lastNotice_; // the last public line of this connection, and when it came
    std::chrono::steady_clock::time_point lastNoticeAt_;
    bool lobbyLoaded_ = false;
    std::uint64_t closes_ = 0; // how often the client has closed the server socket
};

} // namespace stonecall
