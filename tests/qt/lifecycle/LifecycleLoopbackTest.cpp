// The real client, with its real windows and socket, against a scripted lobby peer over
// loopback TCP.

#include "ScriptedServer.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"
#include "qt/QtTreeView.h"
#include "wire/Verify.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextDocumentFragment>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {

// A loopback listener on a port the system chooses; `address` gets where it listens. A
// receive buffer size other than 0 is inherited by the connections it accepts.
int listenOnLoopback(int backlog, sockaddr_in& address, int receiveBuffer = 0)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
        ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener);
        return -1;
    }
    return listener;
}

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
    EXPECT_EQ(app.loginForm().lblError()->text(),
              QStringLiteral("localhost:%1: refused").arg(closedPort));
    EXPECT_TRUE(app.loginForm().cmdLogin()->isEnabled());
}

TEST_F(LoopbackLifecycle, ConnectionAttemptWithoutAnswerGivesUpAfterTheTimeout)
{
    // A listener whose queue is full takes no further connection: the attempt hangs.
    sockaddr_in address{};
    const int listener = listenOnLoopback(0, address);
    ASSERT_GE(listener, 0);
    const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    app.client().ServerPort = ntohs(address.sin_port);
    app.WSClient().setConnectTimeout(50);
    clickLogin();
    EXPECT_TRUE(waitFor([&] { return !app.loginForm().lblError()->text().isEmpty(); }, 3000));
    EXPECT_EQ(app.loginForm().lblError()->text(),
              QStringLiteral("localhost:%1: no answer").arg(ntohs(address.sin_port)));
    EXPECT_FALSE(app.WSClient().isConnected());
    ::close(filler);
    ::close(listener);
}

TEST_F(LoopbackLifecycle, ConnectionResetReturnsToLogin)
{
    connectAndCheckVersion();
    app.lobbyForm().show();
    app.loginForm().hide();
    // Closing with a zero linger time resets the connection instead of ending it.
    const linger reset{1, 0};
    QTcpSocket* peer = server.connection(0);
    ASSERT_EQ(::setsockopt(static_cast<int>(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER,
                           &reset, sizeof reset),
              0);
    peer->abort();
    ASSERT_TRUE(waitFor([&] { return app.loginForm().isVisible(); }));
    EXPECT_FALSE(app.lobbyForm().isVisible());
    EXPECT_EQ(app.loginForm().lblError()->text(), "Connected, checking version... (1)");
}

TEST_F(LoopbackLifecycle, RefusedNameIsShownInFullWithinTheStatusLine)
{
    connectAndCheckVersion();
    QLineEdit* name = app.loginForm().usrName();
    name->clear();
    QTest::keyClicks(name, QStringLiteral("Ann¤LOGOUT"));
    clickLogin();
    ASSERT_TRUE(server.waitForClosed(0));
    server.sendMessage(0, "VERSION\xA4GOOD");
    QLabel* label = app.loginForm().lblError();
    EXPECT_EQ(label->text(), QString::fromLatin1(Client::NameWithSeparatorText));
    EXPECT_EQ(QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText(), label->text());
    EXPECT_EQ(label->accessibleDescription(), label->text());
    EXPECT_EQ(server.messages(0), Messages{"VERSION\xA4"
                                           "1"});
    EXPECT_EQ(server.connectionCount(), 1);

    // Every status text of our own fits the label's one line, the widest port included.
    const QString where =
        QStringLiteral("%1:13511: ").arg(QString::fromStdString(app.client().ServerHost));
    const QStringList ours = {
        QString::fromLatin1(Client::OversizedText),
        QString::fromLatin1(Client::UnsentText),
        QString::fromLatin1(Client::NameWithSeparatorText),
        QString::fromLatin1(Client::NameWithControlText),
        where + QtSocket::RefusedReason,
        where + QtSocket::NotFoundReason,
        where + QtSocket::NoAnswerReason,
        where + QtSocket::NetworkReason,
        where + QtSocket::FailedReason,
    };
    const QFontMetrics metrics = label->fontMetrics();
    for (const QString& text : ours)
        EXPECT_LE(metrics.horizontalAdvance(text), label->contentsRect().width())
            << text.toStdString() << ": " << metrics.horizontalAdvance(text) << " px";
}

TEST_F(LoopbackLifecycle, AnAbsurdlyLongNameIsCutOnItsRowsOnly)
{
    connectAndCheckVersion();
    const std::string name(300000, 'n');
    server.sendMessage(0, "LOGIN\xA4"
                          "1");
    server.sendMessage(0, "USER\xA4"
                          "2\xA4" +
                              name + "\xA4");
    server.sendMessage(0, "USERSTATE\xA4"
                          "2\xA4HOST\xA4"
                          "2\xA4NONE");
    QtTreeView& users = app.lobbyForm().LstUSersView();
    QtTreeView& huts = app.lobbyForm().lstHutsView();
    ASSERT_TRUE(waitFor([&] { return huts.contains("h2"); }));
    const QString shown = QString(255, QLatin1Char('n')) + QChar(0x2026);
    EXPECT_EQ(users.indexOf("u2").data().toString(), shown);
    EXPECT_EQ(huts.indexOf("h2").data().toString(), shown);
    EXPECT_EQ(users.text("u2"), name); // the tree keeps the whole text
}

TEST_F(LoopbackLifecycle, EnterInTheNameBoxDoesNotLogIn)
{
    QTest::keyClick(app.loginForm().usrName(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(app.loginForm().usrName()->text(), "Ann");
}

} // namespace

TEST(LoopbackReplies, RepliesKeepTheirOrderWhenTheSystemTakesOnlySome)
{
    // Replies go straight to the system while nothing waits in the socket's own buffer, and
    // join that buffer once the system takes no more: a peer that reads slowly must still get
    // every reply whole and in order.
    // A small receive buffer, inherited by the accepted connection: the peer's window stays
    // small.
    sockaddr_in address{};
    const int listener = listenOnLoopback(1, address, 4096);
    ASSERT_GE(listener, 0);

    ClientApp app;
    app.start();
    app.client().ServerHost = "127.0.0.1";
    app.client().ServerPort = ntohs(address.sin_port);
    app.client().cmdLogin_Click();
    int peer = -1;
    ASSERT_TRUE(waitFor([&] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 0) == 1)
            peer = ::accept(listener, nullptr, nullptr);
        return peer >= 0;
    }));

    // Challenges are sent until the client's replies back up into the socket's own buffer,
    // then a few more rounds: a reply that jumped that queue would arrive out of order.
    std::string expected = "VERSION\xA4"
                           "1\x06";
    std::string received;
    std::string chunk;
    std::size_t chunkSent = 0, total = 0;
    int v = -16000;
    int roundsAfter = 0;
    bool buffered = false;
    const auto exchange = [&] {
        buffered = buffered || app.WSClient().unsentBytes() > 0;
        if (chunkSent == chunk.size() && roundsAfter < 4 && total < 64 * 1024 * 1024) {
            chunk.clear();
            chunkSent = 0;
            for (; chunk.size() < 65536; v = v >= 16000 ? -16000 : v + 1) {
                const auto response = verifyResponse(static_cast<std::int16_t>(v));
                if (!response)
                    continue;
                chunk += "VERIFY\xA4" + std::to_string(v) + "\x06";
                expected += "VERIFY\xA4" + std::to_string(*response) + "\x06";
            }
            total += chunk.size();
            roundsAfter += buffered ? 1 : 0;
        }
        if (chunkSent < chunk.size()) {
            const ssize_t n = ::send(peer, chunk.data() + chunkSent, chunk.size() - chunkSent,
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0)
                chunkSent += static_cast<std::size_t>(n);
        }
        // The peer reads only once replies wait in the client.
        if (buffered) {
            char bytes[65536];
            for (ssize_t n; (n = ::recv(peer, bytes, sizeof bytes, MSG_DONTWAIT)) > 0;)
                received.append(bytes, static_cast<std::size_t>(n));
        }
        return roundsAfter == 4 && chunkSent == chunk.size() && received.size() >= expected.size();
    };
    EXPECT_TRUE(waitFor(exchange, 60000))
        << total << " bytes of challenges, " << received.size() << " of " << expected.size()
        << " bytes of replies received";
    EXPECT_TRUE(buffered) << "the system took every reply at once";
    EXPECT_TRUE(received == expected);
    ::close(peer);
    ::close(listener);
}
