#pragma once
// A client on in-memory fakes, loaded as at program start.

#include "FakeSocket.h"
#include "FakeWindows.h"
#include "app/Client.h"

#include <gtest/gtest.h>

namespace stonecall::testing {

class ClientFixture : public ::testing::Test {
protected:
    ClientFixture() : client(Platform{login, lobby, ws, vlan, dialogs, app})
    {
        client.LoginForm_Load();
        login.visible = true;
    }

    // Connects and delivers the server's bytes for the given messages (each gets its end mark).
    void connect()
    {
        client.cmdLogin_Click();
        ws.raiseConnect();
    }
    void receive(const std::string& message) { ws.deliver(message + '\x06'); }

    FakeLoginWindow login;
    FakeLobbyWindow lobby;
    FakeSocket ws;
    FakeSocket vlan;
    FakeDialogs dialogs;
    FakeApplication app;
    Client client;
};

} // namespace stonecall::testing
