// End to end: the real lobby server in its own process and two real clients with their real
// windows, over loopback TCP on a port the OS chose.

#include "ModalScript.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"
#include "qt/QtTreeView.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

class LobbyServerProcess {
public:
    explicit LobbyServerProcess(const QStringList& more = {})
    {
        process_.setProgram(QStringLiteral(STONECALL_LOBBYD));
        process_.setArguments(QStringList{"--port", "0", "--ping-interval", "0"} + more);
        process_.start();
        const QRegularExpression listening(QStringLiteral("listening on port (\\d+)"));
        waitFor([&] {
            output_ += process_.readAllStandardOutput();
            const auto match = listening.match(QString::fromUtf8(output_));
            if (match.hasMatch())
                port_ = match.captured(1).toInt();
            return port_ != 0 || process_.state() == QProcess::NotRunning;
        });
    }
    ~LobbyServerProcess()
    {
        process_.kill();
        process_.waitForFinished();
    }
    int port() const { return port_; }

private:
    QProcess process_;
    QByteArray output_;
    int port_ = 0;
};

// One player: a whole client with its windows, logged in under a name.
struct Player {
    Player(const QString& name, int port)
    {
        app.start();
        app.client().ServerPort = port;
        app.loginForm().usrName()->setText(name);
        QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
    }
    LobbyForm& lobby() { return app.lobbyForm(); }
    TreeView& users() { return lobby().LstUSers(); }
    TreeView& huts() { return lobby().lstHuts(); }
    bool inLobby() { return lobby().isVisible() && !app.loginForm().isVisible(); }
    int index() { return app.client().session().MyIndex; }

    ClientApp app;
};

// Double-clicks a node of a real hut tree the way a mouse does.
void doubleClickHutNode(Player& player, const std::string& key)
{
    RowView* view = player.lobby().lstHutsView().view();
    const QPoint at = view->rectOf(player.lobby().lstHutsView().shownNode(key)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

TEST(TwoPlayers, MeetHostJoinChatAndLeave)
{
    LobbyServerProcess server;
    ASSERT_NE(server.port(), 0) << "the lobby server did not start";

    Player ann("Ann", server.port());
    ASSERT_TRUE(waitFor([&] { return ann.inLobby(); }));
    Player bob("Bob", server.port());
    ASSERT_TRUE(waitFor([&] { return bob.inLobby(); }));
    const std::string a = std::to_string(ann.index());
    const std::string b = std::to_string(bob.index());

    // Both see both, waiting.
    for (Player* player : {&ann, &bob}) {
        ASSERT_TRUE(waitFor([&] { return player->users().text("w") == "Waiting: 2"; }));
        EXPECT_EQ(player->users().text("u" + a), "Ann");
        EXPECT_EQ(player->users().text("u" + b), "Bob");
        EXPECT_EQ(player->users().text("p"), "Playing: 0");
    }

    // Ann hosts a hut for three with a password.
    QTest::mouseClick(ann.lobby().cmdCreate(), Qt::LeftButton);
    QTest::keyClicks(ann.lobby().TxPass(), "Ember");
    QTest::mouseClick(ann.lobby().HutCount(1), Qt::LeftButton);
    const std::string hut = "h" + a;
    for (Player* player : {&ann, &bob})
        ASSERT_TRUE(waitFor([&] { return player->huts().childCount(hut) == 2; }));
    EXPECT_TRUE(ann.lobby().cmdLaunch()->isVisible());
    EXPECT_EQ(bob.huts().tag("empty" + a + "-1"), 1);

    // Bob double-clicks the first empty place and gives the password in other letters.
    {
        ModalScript dialogs;
        dialogs.push(ModalScript::type("eMBER"));
        doubleClickHutNode(bob, "empty" + a + "-1");
        ASSERT_EQ(dialogs.shown().size(), 1u);
        EXPECT_EQ(dialogs.shown()[0].title, "Join Hut: Password Needed");
    }
    for (Player* player : {&ann, &bob}) {
        ASSERT_TRUE(waitFor([&] { return player->huts().contains("c" + b); }));
        EXPECT_EQ(player->huts().parentKey("c" + b), hut);
        EXPECT_EQ(player->huts().text("c" + b), "Bob");
        EXPECT_EQ(player->huts().childKeys(hut),
                  (std::vector<std::string>{"c" + b, "empty" + a + "-2"}));
    }

    // Ann chats; the line shows in both logs once the server relays it.
    QTest::keyClicks(ann.lobby().TxOut(), "Who brings the mead?");
    QTest::keyClick(ann.lobby().TxOut(), Qt::Key_Return);
    for (Player* player : {&ann, &bob})
        ASSERT_TRUE(waitFor([&] {
            return player->lobby().chatText().find("Ann: Who brings the mead?\r\n") !=
                   std::string::npos;
        }));

    // Bob logs out and disappears from Ann's lists.
    QTest::mouseClick(bob.lobby().cmdLogout(), Qt::LeftButton);
    EXPECT_TRUE(bob.app.loginForm().isVisible());
    ASSERT_TRUE(waitFor([&] { return !ann.users().contains("u" + b); }));
    EXPECT_EQ(ann.users().text("w"), "Waiting: 1");
    ASSERT_TRUE(waitFor([&] { return !ann.huts().contains("c" + b); }));
    EXPECT_EQ(ann.huts().childCount(hut), 2u);
}

TEST(TwoPlayers, RefusedHutIsExplainedInTheLogAndTheButtonsComeBack)
{
    LobbyServerProcess server;
    ASSERT_NE(server.port(), 0) << "the lobby server did not start";
    Player ann("Ann", server.port());
    ASSERT_TRUE(waitFor([&] { return ann.inLobby(); }));

    QTest::mouseClick(ann.lobby().cmdCreate(), Qt::LeftButton);
    QTest::keyClicks(ann.lobby().TxPass(), QString(70, QLatin1Char('p')));
    QTest::mouseClick(ann.lobby().HutCount(1), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        return ann.lobby().chatText().find(
                   "*lobby*: Hut not opened: the password is longer than 64 characters.\r\n") !=
               std::string::npos;
    }));
    ASSERT_TRUE(waitFor([&] { return ann.lobby().cmdCreate()->isVisible(); }));
    EXPECT_FALSE(ann.lobby().cmdLaunch()->isVisible());
    EXPECT_TRUE(ann.huts().childKeys("").empty());
}

TEST(TwoPlayers, LoggingInAgainAfterARestartShowsNoGhosts)
{
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    auto server = std::make_unique<LobbyServerProcess>(QStringList{"--state-dir", state.path()});
    ASSERT_NE(server->port(), 0) << "the lobby server did not start";
    Player ann("Ann", server->port());
    ASSERT_TRUE(waitFor([&] { return ann.inLobby(); }));
    Player bob("Bob", server->port());
    ASSERT_TRUE(waitFor([&] { return bob.inLobby(); }));
    Player cid("Cid", server->port());
    ASSERT_TRUE(waitFor([&] { return cid.inLobby(); }));
    QTest::mouseClick(cid.lobby().cmdCreate(), Qt::LeftButton);
    QTest::mouseClick(cid.lobby().HutCount(1), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        return ann.users().text("w") == "Waiting: 3" && ann.huts().childKeys("").size() == 1;
    })) << ann.users().text("w")
        << " " << ann.users().text("p") << " " << ann.huts().childKeys("").size();

    // The server goes down and comes back; only Ann returns, and she comes back first.
    server.reset();
    ASSERT_TRUE(waitFor([&] { return !ann.inLobby() && !cid.inLobby(); }));
    server = std::make_unique<LobbyServerProcess>(QStringList{"--state-dir", state.path()});
    ASSERT_NE(server->port(), 0) << "the lobby server did not start again";
    ann.app.client().ServerPort = server->port();
    QTest::mouseClick(ann.app.loginForm().cmdLogin(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return ann.inLobby(); }));
    ASSERT_TRUE(waitFor([&] { return ann.users().text("w") == "Waiting: 1"; }))
        << ann.users().text("w");
    EXPECT_TRUE(ann.huts().childKeys("").empty());
    EXPECT_EQ(ann.users().text("p"), "Playing: 0");
}

TEST(TwoPlayers, ARefusedLogInSaysWhyOnTheStatusLine)
{
    LobbyServerProcess server;
    ASSERT_NE(server.port(), 0) << "the lobby server did not start";
    Player ann("Ann", server.port());
    ASSERT_TRUE(waitFor([&] { return ann.inLobby(); }));

    // The lobby's reason comes before its close, and the log-in window keeps it.
    Player second("Ann", server.port());
    const std::string why = "*lobby*: Log-in refused: that name is in use. Choose another.";
    EXPECT_TRUE(waitFor([&] { return second.app.loginForm().statusText() == why; }))
        << second.app.loginForm().statusText();
    EXPECT_FALSE(second.inLobby());
    EXPECT_TRUE(ann.inLobby());
}
