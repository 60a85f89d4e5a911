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
}

} // namespace stonecall
