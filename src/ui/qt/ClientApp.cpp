#include "ui/qt/ClientApp.h"

namespace stonecall {

ClientApp::ClientApp()
    : client_(Platform{loginForm_, lobbyForm_, WSClient_, VLan0_, dialogs_, application_})
{
    dialogs_.setParent(&lobbyForm_);
    wire();
}

ClientApp::~ClientApp()
{
    // No event may reach the core while the pieces are taken down.
    WSClient_.onConnect = nullptr;
    WSClient_.onClose = nullptr;
    WSClient_.onDataArrival = nullptr;
    WSClient_.onError = nullptr;
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
    WSClient_.onConnect = [c] { c->WSClient_Connect(); };
    WSClient_.onClose = [c] { c->WSClient_Close(); };
    WSClient_.onError = [c](const std::string& reason) { c->WSClient_Error(reason); };
    WSClient_.onDataArrival = [c](std::size_t bytes) { c->WSClient_DataArrival(bytes); };

    QObject::connect(&loginForm_, &LoginForm::cmdLoginClicked, [c] { c->cmdLogin_Click(); });
    QObject::connect(&loginForm_, &LoginForm::closeRequested, [c] { c->LoginForm_Unload(); });
    QObject::connect(&lobbyForm_, &LobbyForm::closeRequested, [c] { c->LobbyForm_QueryUnload(); });
    QObject::connect(&lobbyForm_, &LobbyForm::cmdLogoutClicked, [c] { c->cmdLogout_Click(); });
}

} // namespace stonecall
