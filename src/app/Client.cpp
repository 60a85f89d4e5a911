#include "app/Client.h"

#include "app/Version.h"
#include "platform/Application.h"
#include "platform/LobbyWindow.h"
#include "platform/LoginWindow.h"
#include "platform/Socket.h"
#include "platform/WireLog.h"
#include "protocol/SendCommand.h"
#include "wire/Framer.h"
#include "wire/Keywords.h"
#include "wire/Wire.h"

#include <vector>

namespace stonecall {

Client::Client(Platform platform)
    : platform_(platform), dispatcher_(session_, *this),
      listener_(platform.VLan0, platform.dialogs, platform.app, [this] { LobbyForm_Load(); }),
      huts_(session_, platform.lobby, platform.dialogs,
            [this](std::string text) { SendCommand(std::move(text)); }),
      chat_(platform.lobby, [this](std::string text) { SendCommand(std::move(text)); }),
      userList_(session_.Users, platform.lobby.LstUSers()),
      hutList_(session_.Users, platform.lobby.lstHuts())
{
    Socket& ws = platform_.WSClient;
    ws.onConnect = [this] { WSClient_Connect(); };
    ws.onClose = [this] { WSClient_Close(); };
    ws.onError = [this](const std::string& reason) { WSClient_Error(reason); };
    ws.onDataArrival = [this](std::size_t bytesTotal) { WSClient_DataArrival(bytesTotal); };
}

Client::~Client()
{
    Socket& ws = platform_.WSClient;
    ws.onConnect = nullptr;
    ws.onClose = nullptr;
    ws.onError = nullptr;
    ws.onDataArrival = nullptr;
}

void Client::LoginForm_Load()
{
    ServerHost = chosenServer ? chosenServer->host : std::string(DefaultServerHost);
    ServerPort = chosenServer ? chosenServer->port : 13511;
    listener_.StartListener();
}

void Client::LoginForm_Unload()
{
    // Nothing else would end the run once the login window is gone.
    SendCommand(keyword::Logout);
    ShutdownClient();
}

void Client::cmdLogin_Click()
{
    const std::string name = platform_.login.usrNameText();
    // A name with the field separator or a control character would break the message
    // layout. It never becomes MyName, and the connection that would send MyName goes.
    if (const auto reason = unsendableNameReason(name)) {
        ReturnToLogin();
        platform_.login.setStatusText(*reason);
        return;
    }
    session_.MyName = name;
    closeServerSocket();
    platform_.WSClient.Connect(ServerHost, ServerPort);
}

void Client::LobbyForm_Load()
{
    if (lobbyLoaded_)
        return;
    lobbyLoaded_ = true;
    session_.Users = UserTable();
    userList_.tableReplaced();
    hutList_.tableReplaced();
    platform_.lobby.setCaption(std::string(AppTitle) + " v. " + std::to_string(VersionMajor) + "." +
                               std::to_string(VersionMinor) + "." +
                               std::to_string(VersionRevision) + " - Fernhollow");
}

void Client::LobbyForm_QueryUnload()
{
    SendCommand(keyword::Logout);
    ShutdownClient();
}

void Client::cmdLogout_Click()
{
    platform_.lobby.setVisible(false);
    platform_.login.setVisible(true);
    SendCommand(keyword::Logout);
    closeServerSocket();
}

void Client::Tabs_Click(int index)
{
    // The panels switch by stacking alone; nothing is shown, hidden or changed.
    LobbyWindow& lobby = platform_.lobby;
    if (index == 0) {
        lobby.raiseTab(0);
        lobby.raiseFraMain();
        lobby.raiseLine1();
    } else if (index == 1) {
        lobby.raiseTab(1);
        lobby.raiseFraOptions();
    }
}

void Client::TxOut_KeyPress(int key)
{
    chat_.TxOut_KeyPress(key);
}

void Client::TxChat_Click()
{
    chat_.TxChat_Click();
}

void Client::WSClient_Connect()
{
    session_.RecvBuffer.clear();
    lastNotice_.clear();
    platform_.login.setStatusText(std::string("Connected, checking version... (") + ClientVersion +
                                  ")");
    SendCommand(makeCommand(keyword::Version, {ClientVersion}));
    session_.MyIP = platform_.WSClient.LocalIP();
    platform_.login.setProgress(1);
}

void Client::WSClient_Close()
{
    platform_.lobby.setVisible(false);
    platform_.login.setVisible(true);
    // Whatever the status line said of the log-in is over; it tells why the lobby let go.
    const bool recent =
        !lastNotice_.empty() && std::chrono::steady_clock::now() - lastNoticeAt_ <= NoticeWindow;
    platform_.login.setStatusText(recent ? lastNotice_ : std::string(ServerEndedText));
}

void Client::WSClient_Error(const std::string& reason)
{
    // Where and why, short enough for the one line of the status label.
    platform_.login.setStatusText(ServerHost + ":" + std::to_string(ServerPort) + ": " + reason);
}

void Client::WSClient_DataArrival(std::size_t /*bytesTotal*/)
{
    // Once the client has let go of the connection, the rest of the arrival belongs to it.
    const std::uint64_t connection = closes_;
    platform_.lobby.beginBurst();
    std::vector<std::string_view> fields;
    FeedResult result = FeedResult::Ok;
    // Everything that has arrived is taken, in pieces: a full lobby's log-in arrives in
    // megabytes, which would otherwise each time take fresh memory the size of the arrival.
    // What follows an oversized message is dropped.
    constexpr std::size_t Piece = 64 * 1024;
    for (;;) {
        // Each piece is let go before the next is read, which then takes the same memory.
        const std::string bytes = platform_.WSClient.GetData(Piece);
        if (bytes.empty())
            break;
        if (result == FeedResult::Overflow)
            continue;
        result = feedMessages(
            session_.RecvBuffer, bytes, MsgEnd, MaxMessageSize, [&](std::string_view message) {
                if (closes_ != connection)
                    return;
                if (platform_.wireLog)
                    platform_.wireLog->received(message);
                if (message.empty())
                    return;
                splitFields(message, fields);
                if (fields[0] == keyword::PubMsg && fields.size() >= 3) {
                    // As the chat log shows it: who said it, and what.
                    lastNotice_.assign(fields[1].substr(0, MaxNoticeText));
                    lastNotice_.append(fields[2].substr(0, MaxNoticeText - lastNotice_.size()));
                    lastNoticeAt_ = std::chrono::steady_clock::now();
                }
                dispatcher_.dispatch(fields);
            });
    }
    platform_.lobby.endBurst();
    if (result == FeedResult::Overflow && closes_ == connection) {
        ReturnToLogin();
        platform_.login.setStatusText(OversizedText);
    }
}

void Client::ShutdownClient()
{
    // LOGOUT, sent just before, still goes out while the run ends.
    closeServerSocket();
    platform_.lobby.unload();
    platform_.login.unload();
    platform_.app.quit();
}

void Client::SendCommand(std::string text)
{
    Socket& ws = platform_.WSClient;
    if (!ws.isConnected())
        return;
    // A server that does not read would make the client hold its replies without end.
    if (ws.unsentBytes() + text.size() + 1 > MaxUnsentOutput) {
        ReturnToLogin();
        platform_.login.setStatusText(UnsentText);
        return;
    }
    if (platform_.wireLog)
        platform_.wireLog->sent(text);
    stonecall::SendCommand(ws, std::move(text));
}

void Client::ReturnToLogin()
{
    platform_.lobby.setVisible(false);
    closeServerSocket();
    platform_.login.setVisible(true);
}

void Client::closeServerSocket()
{
    ++closes_;
    platform_.WSClient.Close();
}

std::optional<std::string> Client::unsendableNameReason(std::string_view name)
{
    // The rule is the wire's; the wording is the status line's.
    if (!unsendableFieldReason(name))
        return std::nullopt;
    return std::string(name.find(FieldSep) != std::string_view::npos ? NameWithSeparatorText
                                                                     : NameWithControlText);
}

void Client::entryChanged(std::int32_t index)
{
    userList_.entryChanged(index);
    hutList_.entryChanged(index);
}

void Client::UpdateUserList()
{
    userList_.UpdateUserList();
}

void Client::ConstructHuts()
{
    hutList_.ConstructHuts();
}

void Client::AddLog(std::string_view line)
{
    chat_.AddLog(line);
}

} // namespace stonecall
