// The real client, with its real windows and socket, against a scripted lobby peer over
// loopback TCP.

#include "ScriptedServer.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"
#include "qt/CommandLine.h"
#include "qt/QtTreeView.h"
#include "qt/ShownText.h"
#include "wire/Verify.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextDocumentFragment>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

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

// The connection the client makes to `listener`, accepted while the client's event loop turns;
// -1 when none comes in time.
int acceptWhileTheClientRuns(int listener)
{
    int peer = -1;
    waitFor([&] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 0) == 1)
            peer = ::accept(listener, nullptr, nullptr);
        return peer >= 0;
    });
    return peer;
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

TEST_F(LoopbackLifecycle, ServerClosingSaysWhyOnTheStatusLine)
{
    // Without a public line before the close, our own text says what happened.
    connectAndCheckVersion();
    server.sendMessage(0, "LOGIN\xA4"
                          "1");
    ASSERT_TRUE(waitFor([&] { return app.lobbyForm().isVisible(); }));
    server.disconnect(0);
    ASSERT_TRUE(waitFor([&] { return !app.lobbyForm().isVisible(); }));
    QLabel* label = app.loginForm().lblError();
    EXPECT_TRUE(app.loginForm().isVisible());
    EXPECT_EQ(label->text(), QString::fromLatin1(Client::ServerEndedText));
    EXPECT_EQ(label->accessibleDescription(), label->text());
    EXPECT_EQ(app.loginForm().progress(), 3);

    // The lobby's last line before it lets go is the reason, shown as far as the line holds
    // it and whole in the tooltip and to a screen reader.
    clickLogin();
    ASSERT_TRUE(server.waitForMessages(1, 1));
    const std::string why = "You are banned from this lobby for 7 days: flooding the chat.";
    server.sendMessage(1, "PUBMSG\xA4"
                          "Ann: \xA4hello");
    server.sendMessage(1, "PUBMSG\xA4*lobby*: \xA4" + why);
    ASSERT_TRUE(waitFor([&] { return app.lobbyForm().chatText().find(why) != std::string::npos; }));
    server.disconnect(1);
    ASSERT_TRUE(waitFor(
        [&] { return app.loginForm().statusText() != "Connected, checking version... (1)"; }));
    const QString whole = QString::fromStdString("*lobby*: " + why);
    EXPECT_EQ(app.loginForm().statusText(), "*lobby*: " + why);
    EXPECT_EQ(QTextDocumentFragment::fromHtml(label->toolTip()).toPlainText(), whole);
    EXPECT_EQ(label->accessibleDescription(), whole);
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_TRUE(whole.startsWith(label->text().chopped(1)));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
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
    EXPECT_EQ(app.loginForm().lblError()->text(), QString::fromLatin1(Client::ServerEndedText));
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
        QString::fromLatin1(Client::ServerEndedText),
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
    ASSERT_TRUE(users.shownNode("u2") && huts.shownNode("h2"));
    EXPECT_EQ(shownTreeText(users.shownNode("u2")->text), shown);
    EXPECT_EQ(shownTreeText(huts.shownNode("h2")->text), shown);
    // The table keeps a bounded part of it, and the tree all of that.
    EXPECT_EQ(users.text("u2"), name.substr(0, MaxFieldText));
    EXPECT_LT(app.client().session().Users[2].Name.capacity(), 2 * MaxFieldText);
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
    const int peer = acceptWhileTheClientRuns(listener);
    ASSERT_GE(peer, 0);

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

namespace {

// A server that stops reading while the client's replies pile up, then the user leaves the
// lobby (`leave`), and only then the server reads again: it must get every reply whole, then
// LOGOUT, then the end of the connection.
void logoutReachesAServerThatReadsOnlyAfterTheClick(const std::function<void(ClientApp&)>& leave)
{
    sockaddr_in address{};
    const int listener = listenOnLoopback(1, address, 4096);
    ASSERT_GE(listener, 0);

    ClientApp app;
    app.start();
    app.client().ServerHost = "127.0.0.1";
    app.client().ServerPort = ntohs(address.sin_port);
    QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
    const int peer = acceptWhileTheClientRuns(listener);
    ASSERT_GE(peer, 0);
    const std::string login = "LOGIN\xA4"
                              "1\x06";
    ASSERT_EQ(::send(peer, login.data(), login.size(), MSG_NOSIGNAL), ssize_t(login.size()));
    ASSERT_TRUE(waitFor([&] { return app.lobbyForm().isVisible(); }));

    // PINGs until a good part of the replies waits in the client, far below its cap.
    std::string block;
    for (int i = 0; i < 5000; ++i)
        block += "PING\x06";
    ASSERT_TRUE(waitFor(
        [&] {
            ::send(peer, block.data(), block.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            return app.WSClient().unsentBytes() > 64 * 1024;
        },
        30000))
        << app.WSClient().unsentBytes() << " bytes wait in the client";
    ASSERT_TRUE(app.WSClient().isConnected());

    leave(app);

    std::string received;
    bool ended = false;
    EXPECT_TRUE(waitFor(
        [&] {
            char bytes[65536];
            for (ssize_t n; (n = ::recv(peer, bytes, sizeof bytes, MSG_DONTWAIT)) >= 0;) {
                if (n == 0) {
                    ended = true;
                    break;
                }
                received.append(bytes, static_cast<std::size_t>(n));
            }
            return ended;
        },
        10000))
        << received.size() << " bytes received, no end of the connection";
    ::close(peer);
    ::close(listener);

    // VERSION, GETUSERLIST, the replies, LOGOUT: every one whole, LOGOUT last.
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), '\x06') << "the stream ends within a message";
    std::vector<std::string> messages;
    for (std::size_t from = 0, end; (end = received.find('\x06', from)) != std::string::npos;
         from = end + 1)
        messages.push_back(received.substr(from, end - from));
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages.front(), "VERSION\xA4"
                                "1");
    EXPECT_EQ(messages[1], "GETUSERLIST");
    EXPECT_EQ(messages.back(), "LOGOUT");
    const auto replies = std::count(messages.begin(), messages.end(), "PINGREPLY");
    EXPECT_EQ(static_cast<std::size_t>(replies), messages.size() - 3);
    EXPECT_GT(replies * 10, 64 * 1024);
}

} // namespace

TEST(SlowServer, LogoutArrivesWholeAndLastAfterEverythingQueued)
{
    logoutReachesAServerThatReadsOnlyAfterTheClick([](ClientApp& app) {
        QTest::mouseClick(app.lobbyForm().cmdLogout(), Qt::LeftButton);
        EXPECT_TRUE(app.loginForm().isVisible());
        EXPECT_FALSE(app.WSClient().isConnected());
    });
}

TEST(SlowServer, ClosingTheLobbyWindowStillDeliversLogoutWholeAndLast)
{
    logoutReachesAServerThatReadsOnlyAfterTheClick([](ClientApp& app) {
        app.lobbyForm().close();
        EXPECT_TRUE(app.application().quitRequested());
        EXPECT_FALSE(app.lobbyForm().isVisible());
    });
}

TEST(CommandLineServer, IsWhereTheLoginButtonConnects)
{
    // An IPv4 address and an IPv6 one in brackets, each on a port the system chose.
    for (const QHostAddress& listenOn :
         {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        QTcpServer lobby;
        ASSERT_TRUE(lobby.listen(listenOn, 0)) << lobby.errorString().toStdString();
        const QString host = listenOn.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(listenOn.toString())
                                 : listenOn.toString();
        const CommandLine line = readCommandLine(
            {"stonecall", "--server", QStringLiteral("%1:%2").arg(host).arg(lobby.serverPort())});
        ASSERT_FALSE(line.exitStatus);
        ASSERT_TRUE(line.server);

        ClientApp app(line.server);
        app.start();
        EXPECT_EQ(app.client().ServerHost, listenOn.toString().toStdString());
        EXPECT_EQ(app.client().ServerPort, lobby.serverPort());
        app.loginForm().usrName()->setText("Ann");
        QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
        QTcpSocket* peer = nullptr;
        QByteArray received;
        EXPECT_TRUE(waitFor([&] {
            if (!peer)
                peer = lobby.nextPendingConnection();
            if (peer)
                received += peer->readAll();
            return received.endsWith('\x06');
        })) << host.toStdString();
        EXPECT_EQ(received, QByteArray("VERSION\xA4"
                                       "1\x06"));
        EXPECT_EQ(app.loginForm().progress(), 1);
    }

    // Without the option the built-in lobby stays; a wrong line ends the run with status 2.
    EXPECT_EQ(readCommandLine({"stonecall"}).server, std::nullopt);
    EXPECT_EQ(readCommandLine({"stonecall"}).exitStatus, std::nullopt);
    for (const QStringList& wrong :
         {QStringList{"stonecall", "--server", "::1"}, QStringList{"stonecall", "--server", "h:0"},
          QStringList{"stonecall", "--server"}, QStringList{"stonecall", "--bogus"},
          QStringList{"stonecall", "lobby.example.org"}})
        EXPECT_EQ(readCommandLine(wrong).exitStatus, 2) << wrong.join(' ').toStdString();
}
