#pragma once
// The whole client assembled: sockets, dialogs, both windows and the core, wired together.

#include "app/Client.h"
#include "ui/qt/LobbyForm.h"
#include "ui/qt/LoginForm.h"
#include "ui/qt/QtApplication.h"
#include "ui/qt/QtDialogs.h"
#include "ui/qt/QtSocket.h"
#include "ui/qt/QtWireLog.h"

namespace stonecall {

class ClientApp {
public:
    ClientApp();
    ~ClientApp();
    ClientApp(const ClientApp&) = delete;
    ClientApp& operator=(const ClientApp&) = delete;

    // Loads the login window (which loads the hidden lobby window) and shows it.
    void start();

    Client& client() { return client_; }
    LoginForm& loginForm() { return loginForm_; }
    LobbyForm& lobbyForm() { return lobbyForm_; }
    QtSocket& WSClient() { return WSClient_; }
    QtApplication& application() { return application_; }

private:
    void wire();

    QtSocket WSClient_;
    QtSocket VLan0_;
    QtDialogs dialogs_;
    QtApplication application_;
    LoginForm loginForm_;
    LobbyForm lobbyForm_;
    QtWireLog wireLog_;
    Client client_;
};

} // namespace stonecall
