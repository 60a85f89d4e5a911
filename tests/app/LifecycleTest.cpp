#include "ClientFixture.h"

using namespace stonecall;
using stonecall::testing::ClientFixture;
using Messages = std::vector<std::string>;

using Lifecycle = ClientFixture;

TEST_F(Lifecycle, StartLoadsTheHiddenLobbyWithItsCaption)
{
    EXPECT_EQ(lobby.captionText, "Stonecall v. 0.1.1 - Fernhollow");
    EXPECT_FALSE(lobby.visible);
    EXPECT_EQ(client.session().Users.MaxUserIndex(), 0);
    EXPECT_EQ(client.ServerHost, "localhost");
    EXPECT_EQ(client.ServerPort, 13511);
    EXPECT_EQ(vlan.localPort, 8057);
    EXPECT_TRUE(vlan.connectCalls.empty());
    EXPECT_EQ(login.status, "");
    EXPECT_EQ(login.progressValue, 0);
}

TEST_F(Lifecycle, LoginClosesThenConnectsEveryTime)
{
    login.usrName = "Ann";
    client.cmdLogin_Click();
    client.cmdLogin_Click();
    EXPECT_EQ(ws.closeCalls, 2);
    EXPECT_EQ(ws.connectCalls, (Messages{"localhost:13511", "localhost:13511"}));
    EXPECT_EQ(client.session().MyName, "Ann");
}

TEST_F(Lifecycle, ConnectSendsVersionAndAdvancesProgress)
{
    client.session().RecvBuffer = "stale";
    ws.localIP = "192.168.1.5";
    connect();
    EXPECT_EQ(ws.takeSent(), Messages{"VERSION\xA4"
                                      "1"});
    EXPECT_EQ(login.status, "Connected, checking version... (1)");
    EXPECT_EQ(login.progressValue, 1);
    EXPECT_EQ(client.session().MyIP, "192.168.1.5");
    EXPECT_TRUE(client.session().RecvBuffer.empty());
}

TEST_F(Lifecycle, GoodVersionSendsLoginEvenWithAnEmptyName)
{
    ws.localIP = "10.1.2.3";
    connect();
    ws.takeSent();
    receive("VERSION\xA4GOOD");
    EXPECT_EQ(ws.takeSent(), Messages{"LOGIN\xA4\xA4"
                                      "10.1.2.3"});
    EXPECT_EQ(login.progressValue, 2);
}

TEST_F(Lifecycle, RefusedVersionReturnsToLogin)
{
    connect();
    lobby.visible = true;
    const int closesBefore = ws.closeCalls;
    receive("VERSION\xA4");
    EXPECT_EQ(login.status, "Incorrect client version.");
    EXPECT_FALSE(lobby.visible);
    EXPECT_TRUE(login.visible);
    EXPECT_EQ(ws.closeCalls, closesBefore + 1);
}

TEST_F(Lifecycle, ServerCloseSaysWhyAndKeepsProgress)
{
    connect();
    login.status = "Login OK! Requesting userlist...";
    login.progressValue = 3;
    lobby.visible = true;
    login.visible = false;
    receive("PUBMSG\xA4*lobby*: \xA4You were disconnected by the operator.");
    ws.raiseClose();
    EXPECT_TRUE(login.visible);
    EXPECT_FALSE(lobby.visible);
    EXPECT_EQ(login.status, "*lobby*: You were disconnected by the operator.");
    EXPECT_EQ(login.progressValue, 3);

    // A line of an earlier connection says nothing of why this one ended.
    connect();
    ws.raiseClose();
    EXPECT_EQ(login.status, Client::ServerEndedText);
}

TEST_F(Lifecycle, LogoutSendsLogoutBeforeClosing)
{
    connect();
    ws.takeSent();
    lobby.visible = true;
    const int closesBefore = ws.closeCalls;
    client.cmdLogout_Click();
    EXPECT_EQ(ws.takeSent(), Messages{"LOGOUT"});
    EXPECT_EQ(ws.closeCalls, closesBefore + 1);
    EXPECT_FALSE(lobby.visible);
    EXPECT_TRUE(login.visible);
}

TEST_F(Lifecycle, ClosingTheLobbyLogsOutAndEndsTheRun)
{
    connect();
    ws.takeSent();
    client.LobbyForm_QueryUnload();
    EXPECT_EQ(ws.takeSent(), Messages{"LOGOUT"});
    EXPECT_TRUE(lobby.unloaded);
    EXPECT_TRUE(login.unloaded);
    EXPECT_TRUE(app.quitCalled);
}

TEST_F(Lifecycle, ClosingTheLoginWindowEndsTheRun)
{
    client.LoginForm_Unload();
    EXPECT_TRUE(ws.sent.empty()); // no connection, nothing to log out from
    EXPECT_TRUE(app.quitCalled);
    EXPECT_TRUE(lobby.unloaded);
}

TEST_F(Lifecycle, UnsendableUserNameNeverReachesTheWire)
{
    login.usrName = "Bob";
    connect(); // the server has not answered VERSION yet
    ws.takeSent();
    lobby.visible = true;
    for (const std::string& name :
         {std::string("Ann\xA4LOGOUT"), std::string("A\x06"), std::string("A\nB")}) {
        login.usrName = name;
        const int closesBefore = ws.closeCalls;
        client.cmdLogin_Click();
        EXPECT_EQ(ws.closeCalls, closesBefore + 1) << name;
        EXPECT_EQ(ws.connectCalls.size(), 1u) << name;
        EXPECT_EQ(client.session().MyName, "Bob");
        EXPECT_EQ(login.status, name == "Ann\xA4LOGOUT" ? Client::NameWithSeparatorText
                                                        : Client::NameWithControlText);
        EXPECT_TRUE(login.visible);
        EXPECT_FALSE(lobby.visible);
    }
    receive("VERSION\xA4GOOD"); // late, on the closed connection
    EXPECT_TRUE(ws.takeSent().empty());
}

TEST_F(Lifecycle, FailedConnectionSaysWhereAndWhy)
{
    client.cmdLogin_Click();
    client.WSClient_Error("refused");
    EXPECT_EQ(login.status, "localhost:13511: refused");
    EXPECT_TRUE(login.visible);
}

TEST_F(Lifecycle, OversizedMessageClosesTheConnection)
{
    connect();
    lobby.visible = true;
    const int closesBefore = ws.closeCalls;
    ws.deliver(std::string(Client::MaxMessageSize, 'x'));
    EXPECT_EQ(ws.closeCalls, closesBefore);
    ws.deliver("x");
    EXPECT_EQ(ws.closeCalls, closesBefore + 1);
    EXPECT_TRUE(client.session().RecvBuffer.empty());
    EXPECT_FALSE(lobby.visible);
    EXPECT_TRUE(login.visible);
    EXPECT_EQ(login.status, Client::OversizedText);
}

TEST_F(Lifecycle, LoginPressWhileUsersArriveReconnectsWithoutLogoutAndKeepsTheLobby)
{
    login.usrName = "Ann";
    connect();
    receive("VERSION\xA4GOOD");
    receive("LOGIN\xA4"
            "3");
    ws.takeSent();
    ASSERT_TRUE(lobby.visible);
    const int closesBefore = ws.closeCalls;
    client.cmdLogin_Click();
    EXPECT_TRUE(ws.takeSent().empty()); // no LOGOUT
    EXPECT_EQ(ws.closeCalls, closesBefore + 1);
    EXPECT_EQ(ws.connectCalls.size(), 2u);
    EXPECT_TRUE(lobby.visible);
    EXPECT_TRUE(login.visible);
    EXPECT_EQ(login.status, "Login OK! Requesting userlist...");
}

TEST_F(Lifecycle, NothingMoreOfAnArrivalIsActedOnOnceTheClientHasClosed)
{
    connect();
    ws.takeSent();
    login.progressValue = 1;
    ws.deliver("VERSION\xA4"
               "BAD\x06LOGIN\xA4"
               "3\x06PING\x06");
    EXPECT_EQ(login.status, "Incorrect client version.");
    EXPECT_TRUE(login.visible);
    EXPECT_FALSE(lobby.visible);
    EXPECT_EQ(login.progressValue, 1);
    EXPECT_EQ(client.session().MyIndex, 0);

    // The next connection's arrivals are acted on again.
    connect();
    ws.takeSent();
    receive("PING");
    EXPECT_EQ(ws.takeSent(), Messages{"PINGREPLY"});
}

TEST_F(Lifecycle, UnsentOutputOverTheCapClosesTheConnection)
{
    connect();
    ws.takeSent();
    lobby.visible = true;
    ws.unsent = Client::MaxUnsentOutput - 10; // PINGREPLY and its end fill it exactly
    receive("PING");
    EXPECT_EQ(ws.takeSent(), Messages{"PINGREPLY"});
    ws.unsent += 10;
    const int closesBefore = ws.closeCalls;
    ws.deliver("PING\x06PING\x06");
    EXPECT_TRUE(ws.takeSent().empty());
    EXPECT_EQ(ws.closeCalls, closesBefore + 1);
    EXPECT_FALSE(lobby.visible);
    EXPECT_TRUE(login.visible);
    EXPECT_EQ(login.status, Client::UnsentText);
}
