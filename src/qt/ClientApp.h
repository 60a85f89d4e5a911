#pragma once
// The whole client assembled: sockets, dialogs, both windows and the core, wired together.

#include "app/Client.h"
#include "qt/LobbyForm.h"
#include "qt/LoginForm.h"
#include "qt/QtApplication.h"
#include "qt/QtDialogs.h"
#include "qt/QtSocket.h"
#include "qt/QtWireLog.h"
#include "wire/ServerAddress.h"

#include <optional>

namespace stonecall {

class ClientApp {
public:
    // `server`: the lobby named on the command line, if any.
    explicit ClientApp(std::optional<ServerAddress> server = std::nullopt);
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
