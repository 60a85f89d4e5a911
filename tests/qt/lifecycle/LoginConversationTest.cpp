// A whole log-in conversation between the real client and a scripted peer on loopback TCP:
// the exact bytes the client sends, and the windows and progress at each step.

#include "ScriptedServer.h"
#include "WaitFor.h"
#include "WireMessages.h"
#include "qt/ClientApp.h"
#include "wire/Encryptor.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {
using test::S;
const std::string E = "\x06";
} // namespace

TEST(LoginConversation, FromVersionToTheMessageOfTheDay)
{
    ScriptedServer server;
    ClientApp app;
    app.start();
    app.client().ServerPort = server.port();
    app.loginForm().usrName()->setText(QStringLiteral("Old_Fox"));
    LoginForm& login = app.loginForm();
    LobbyForm& lobby = app.lobbyForm();

    QTest::mouseClick(login.cmdLogin(), Qt::LeftButton);
    ASSERT_TRUE(server.waitForMessages(0, 1));
    EXPECT_EQ(server.received(0), "VERSION" + S + "1" + E);
    ASSERT_TRUE(waitFor([&] { return login.progress() == 1; }));

    server.sendMessage(0, "VERSION" + S + "GOOD");
    ASSERT_TRUE(server.waitForMessages(0, 2));
    EXPECT_EQ(server.messages(0)[1], "LOGIN" + S + "Old_Fox" + S + "127.0.0.1");
    EXPECT_EQ(login.progress(), 2);
    EXPECT_FALSE(lobby.isVisible());

    // The reply arrives cut in two.
    server.send(0, "LOG");
    QCoreApplication::processEvents();
    server.send(0, "IN" + S + "2" + E);
    ASSERT_TRUE(server.waitForMessages(0, 3));
    EXPECT_EQ(server.messages(0)[2], "GETUSERLIST");
    EXPECT_EQ(login.progress(), 3);
    EXPECT_EQ(login.lblError()->text(), "Login OK! Requesting userlist...");
    EXPECT_TRUE(lobby.isVisible());
    EXPECT_TRUE(login.isVisible());

    server.send(0, "USER" + S + "0" + S + "NONE" + S + E + "USER" + S + "1" + S + "Ann" + S + "x" +
                       E + "USER" + S + "2" + S + "Old_Fox" + S + "x" + E + "USERSTATE" + S + "1" +
                       S + "HOST" + S + "3" + S + "NONE" + E + "USERSTATE" + S + "2" + S + "IDLE" +
                       E + "ENDUSERS" + E);
    ASSERT_TRUE(server.waitForMessages(0, 4));
    EXPECT_EQ(server.messages(0)[3], "MOTD");
    EXPECT_FALSE(login.isVisible());
    EXPECT_EQ(app.client().session().Users.MaxUserIndex(), 2);
    EXPECT_EQ(app.client().session().Users[1].State, "HOST");

    server.send(0, "MOTDLINE" + S + EncryptText("Welcome to the lobby") + E + "PING" + E +
                       "VERIFY" + S + "7" + E);
    ASSERT_TRUE(server.waitForMessages(0, 6));
    EXPECT_EQ(server.messages(0)[4], "PINGREPLY");
    EXPECT_EQ(server.messages(0)[5], "VERIFY" + S + "296702");
    EXPECT_TRUE(lobby.chatText().find("Welcome to the lobby\r\n") != std::string::npos);
    EXPECT_EQ(server.received(0).back(), '\x06');
}
