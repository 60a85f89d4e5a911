// The real client, with its real windows and socket, against a scripted lobby peer over
// loopback TCP.

#include "ScriptedServer.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {

class LoopbackLifecycle : public ::testing::Test {
protected:
    LoopbackLifecycle()
    {
        app.start();
        app.client().ServerPort = server.port();
        app.loginForm().usrName()->setText("Ann");
    }

    void clickLogin() { QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton); }

    // Logs in up to the version check on connection 0.
    void connectAndCheckVersion()
    {
        clickLogin();
        ASSERT_TRUE(server.waitForMessages(0, 1));
        ASSERT_TRUE(waitFor([&] { return app.loginForm().progress() == 1; }));
    }

    ScriptedServer server;
    ClientApp app;
};

TEST_F(LoopbackLifecycle, ConnectingReachesTheVersionCheck)
{
    EXPECT_TRUE(app.loginForm().isVisible());
    EXPECT_FALSE(app.lobbyForm().isVisible());
    EXPECT_EQ(app.lobbyForm().windowTitle(), "Stonecall v. 0.1.1 - Fernhollow");
    connectAndCheckVersion();
    EXPECT_EQ(server.messages(0), Messages{"VERSION\xA4"
                                           "1"});
    EXPECT_EQ(app.loginForm().lblError()->text(), "Connected, checking version... (1)");
    EXPECT_EQ(app.client().session().MyIP, "127.0.0.1");
}

TEST_F(LoopbackLifecycle, TwoClicksLeaveOneConnectionTheSecond)
{
    clickLogin();
    clickLogin();
    ASSERT_TRUE(waitFor([&] {
        return server.connectionCount() > 0 &&
               server.messages(server.connectionCount() - 1).size() == 1;
    }));
    const int last = server.connectionCount() - 1;
    for (int i = 0; i < last; ++i)
        EXPECT_TRUE(server.waitForClosed(i)) << "connection " << i << " stayed open";
    EXPECT_TRUE(server.isOpen(last));
    EXPECT_TRUE(app.WSClient().isConnected());
}

TEST_F(LoopbackLifecycle, GoodVersionSendsLogin)
{
    connectAndCheckVersion();
    server.sendMessage(0, "VERSION\xA4GOOD");
    ASSERT_TRUE(server.waitForMessages(0, 2));
    EXPECT_EQ(server.messages(0)[1], "LOGIN\xA4"
                                     "Ann\xA4"
                                     "127.0.0.1");
    EXPECT_TRUE(waitFor([&] { return app.loginForm().progress() == 2; }));
}

TEST_F(LoopbackLifecycle, LogoutSendsLogoutBeforeClosing)
{
    connectAndCheckVersion();
    app.lobbyForm().show();
    QTest::mouseClick(app.lobbyForm().cmdLogout(), Qt::LeftButton);
    ASSERT_TRUE(server.waitForClosed(0));
    EXPECT_EQ(server.messages(0), (Messages{"VERSION\xA4"
                                            "1",
                                            "LOGOUT"}));
    EXPECT_FALSE(app.lobbyForm().isVisible());
    EXPECT_TRUE(app.loginForm().isVisible());
}

TEST_F(LoopbackLifecycle, ServerClosingReturnsToLoginKeepingStatus)
{
    connectAndCheckVersion();
    app.lobbyForm().show();
    app.loginForm().hide();
    server.disconnect(0);
    ASSERT_TRUE(waitFor([&] { return app.loginForm().isVisible(); }));
    EXPECT_FALSE(app.lobbyForm().isVisible());
    EXPECT_EQ(app.loginForm().lblError()->text(), "Connected, checking version... (1)");
    EXPECT_EQ(app.loginForm().progress(), 1);
}

TEST_F(LoopbackLifecycle, RefusedVersionClosesTheConnection)
{
    connectAndCheckVersion();
    server.sendMessage(0, "VERSION\xA4"
                          "BAD");
    ASSERT_TRUE(server.waitForClosed(0));
    EXPECT_EQ(app.loginForm().lblError()->text(), "Incorrect client version.");
    EXPECT_TRUE(app.loginForm().isVisible());
    EXPECT_FALSE(app.WSClient().isConnected());
}

TEST_F(LoopbackLifecycle, ClosingTheLobbyLogsOutAndEndsTheRun)
{
    connectAndCheckVersion();
    app.lobbyForm().show();
    app.lobbyForm().close();
    ASSERT_TRUE(server.waitForMessages(0, 2));
    EXPECT_EQ(server.messages(0)[1], "LOGOUT");
    EXPECT_TRUE(app.application().quitRequested());
    EXPECT_FALSE(app.lobbyForm().isVisible());
    EXPECT_FALSE(app.loginForm().isVisible());
}

TEST_F(LoopbackLifecycle, RefusedConnectionIsReported)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int closedPort = probe.serverPort();
    probe.close();
    app.client().ServerPort = closedPort;
    clickLogin();
    ASSERT_TRUE(waitFor([&] { return !app.loginForm().lblError()->text().isEmpty(); }));
    const QString status = app.loginForm().lblError()->text();
    EXPECT_TRUE(
        status.startsWith(QStringLiteral("Cannot connect to localhost:%1: ").arg(closedPort)))
        << status.toStdString();
    EXPECT_TRUE(app.loginForm().cmdLogin()->isEnabled());
}

TEST_F(LoopbackLifecycle, EnterInTheNameBoxDoesNotLogIn)
{
    QTest::keyClick(app.loginForm().usrName(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(app.loginForm().usrName()->text(), "Ann");
}

} // namespace
