#include "qt/ClientApp.h"

namespace stonecall {

ClientApp::ClientApp(std::optional<ServerAddress> server)
    : client_(
          Platform{loginForm_, lobbyForm_, WSClient_, VLan0_, dialogs_, application_, &wireLog_})
{
    client_.chosenServer = std::move(server);
    dialogs_.setParent(&lobbyForm_);
    wire();
}

ClientApp::~ClientApp()
{
    WSClient_.Close();
}

void ClientApp::start()
{
    client_.LoginForm_Load();
    loginForm_.show();
}

void ClientApp::wire()
{
    Client* c = &client_;
    QObject::connect(&loginForm_, &LoginForm::cmdLoginClicked, [c] { c->cmdLogin_Click(); });
    QObject::connect(&loginForm_, &LoginForm::closeRequested, [c] { c->LoginForm_Unload(); });
    QObject::connect(&lobbyForm_, &LobbyForm::closeRequested, [c] { c->LobbyForm_QueryUnload(); });
    QObject::connect(&lobbyForm_, &LobbyForm::cmdLogoutClicked, [c] { c->cmdLogout_Click(); });
    QObject::connect(&lobbyForm_, &LobbyForm::txOutKeyPressed,
                     [c](int key) { c->TxOut_KeyPress(key); });
    QObject::connect(&lobbyForm_, &LobbyForm::txChatClicked, [c] { c->TxChat_Click(); });
    QObject::connect(&lobbyForm_, &LobbyForm::cmdCreateClicked, [c] { c->cmdCreate_Click(); });
    QObject::connect(&lobbyForm_, &LobbyForm::hutCountClicked,
                     [c](int index) { c->HutCount_Click(static_cast<std::int16_t>(index)); });
    QObject::connect(&lobbyForm_, &LobbyForm::cmdExitClicked, [c] { c->cmdExit_Click(); });
    QObject::connect(&lobbyForm_, &LobbyForm::cmdLaunchClicked, [c] { c->cmdLaunch_Click(); });
    QObject::connect(&lobbyForm_, &LobbyForm::lstHutsDoubleClicked, [c] { c->lstHuts_DblClick(); });
    QObject::connect(&lobbyForm_, &LobbyForm::tabsClicked,
                     [c](int index) { c->Tabs_Click(index); });
}

} // namespace stonecall
