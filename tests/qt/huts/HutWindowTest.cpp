// The create panel, the hut buttons and the hut list of the real lobby window, driven with
// mouse and key events, with real dialogs answered from a timer and a scripted lobby peer
// receiving what the client sends.

#include "ModalScript.h"
#include "ScriptedServer.h"
#include "WaitFor.h"
#include "WireMessages.h"
#include "qt/ClientApp.h"
#include "qt/QtTreeView.h"
#include "roster/TreeKeys.h"
#include "wire/Encryptor.h"

#include <QClipboard>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;
using Shown = ModalScript::Shown;

namespace {

using test::S;
const QString PasswordPrompt =
    QStringLiteral("A password is required to join this hut!\r\n\r\nGive password:");

class HutWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        app.start();
        app.client().ServerPort = server.port();
        app.loginForm().usrName()->setText("Me");
        QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
        ASSERT_TRUE(server.waitForMessages(0, 1));
        server.sendMessage(0, "LOGIN" + S + "1");
        ASSERT_TRUE(server.waitForMessages(0, 2)); // GETUSERLIST
        ASSERT_TRUE(waitFor([&] { return lobby().isVisible(); }));
        server.sendMessage(0, "USER" + S + "1" + S + "Me" + S + "x");
        ASSERT_TRUE(waitFor([&] { return lobby().LstUSers().contains(treeKeys::user(1)); }));
    }

    LobbyForm& lobby() { return app.lobbyForm(); }
    RowView* hutView() { return lobby().lstHutsView().view(); }

    // A host and its hut as the server reports them, with a member in place 1 if given; back
    // once the hut list shows them.
    void addHut(int host, const std::string& password, int size, int memberInPlace1 = 0)
    {
        const std::string h = std::to_string(host);
        server.sendMessage(0, "USER" + S + h + S + "Host" + h + S + "x");
        server.sendMessage(0, "USERSTATE" + S + h + S + "HOST" + S + std::to_string(size) + S +
                                  password);
        std::string last = treeKeys::hut(host);
        if (memberInPlace1) {
            const std::string m = std::to_string(memberInPlace1);
            server.sendMessage(0, "USER" + S + m + S + "Member" + S + "x");
            server.sendMessage(0, "USERSTATE" + S + m + S + "CLIENT" + S + h + S + "1");
            last = treeKeys::member(memberInPlace1);
        }
        ASSERT_TRUE(waitFor([&] { return lobby().lstHuts().contains(last); }));
    }

    // The hut line with this text, or its place line in the given row.
    const QtTreeView::Node* hutLine(const std::string& text, int placeRow = -1)
    {
        lobby().lstHutsView().settle(); // what the end of the frame would show
        for (const QtTreeView::Node* hut : lobby().lstHutsView().root()->shown()) {
            if (hut->text == text && placeRow < static_cast<int>(hut->shown().size()))
                return placeRow < 0 ? hut : hut->shown()[static_cast<std::size_t>(placeRow)];
        }
        return nullptr;
    }

    // Two quick presses and releases of a button at one place of the list (the first click
    // selects, the second press comes as a double-click).
    void doubleClick(const QtTreeView::Node* node, Qt::MouseButton button = Qt::LeftButton)
    {
        ASSERT_TRUE(node);
        RowView* view = hutView();
        const QRect rect = view->rectOf(node);
        ASSERT_FALSE(rect.isEmpty()); // shown: its hut is expanded
        QTest::mouseDClick(view->viewport(), button, {}, rect.center());
    }

    // Everything the client sent after logging in, once the empty chat line that Enter in
    // the chat box sends has arrived, so that a message that should not have gone out would
    // be seen before it.
    Messages sentSoFar()
    {
        const std::size_t before = server.messages(0).size();
        QTest::keyClick(lobby().TxOut(), Qt::Key_Return);
        EXPECT_TRUE(waitFor([&] {
            const Messages all = server.messages(0);
            return all.size() > before && all.back() == "SENDMSG" + S;
        }));
        const Messages all = server.messages(0);
        return Messages(all.begin() + 2, all.end() - 1);
    }

    // Keys as a person types them: to whatever has the focus in the window.
    static void type(QWidget* window, const char* keys)
    {
        for (; *keys; ++keys)
            QTest::keyClick(window->windowHandle(), *keys);
    }
    static void paste(QWidget* window)
    {
        QTest::keyClick(window->windowHandle(), Qt::Key_V, Qt::ControlModifier);
    }

    ScriptedServer server;
    ClientApp app;
};

TEST_F(HutWindows, CreatePanelHostsWithTheTypedPassword)
{
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    ASSERT_TRUE(lobby().MenuGame()->isVisible());
    EXPECT_EQ(lobby().FraMain()->children().last(), lobby().MenuGame());
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    EXPECT_FALSE(lobby().MenuGame()->isVisible());
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);

    QTest::keyClicks(lobby().TxPass(), "Caf");
    QTest::sendKeyEvent(QTest::Click, lobby().TxPass(), Qt::Key_Eacute, QStringLiteral("\u00E9"),
                        Qt::NoModifier);
    QTest::keyClicks(lobby().TxPass(), " Pw");
    QTest::mouseClick(lobby().HutCount(2), Qt::LeftButton);
    EXPECT_FALSE(lobby().MenuGame()->isVisible());
    EXPECT_FALSE(lobby().cmdCreate()->isVisible());
    EXPECT_TRUE(lobby().cmdExit()->isVisible());
    EXPECT_EQ(sentSoFar(), Messages{"BEHOST" + S + "4" + S + "Caf\xE9 Pw"});
}

TEST_F(HutWindows, RefusedPasswordIsExplainedAndThePanelStaysOpen)
{
    ModalScript dialogs;
    dialogs.push(ModalScript::pressOk());
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    lobby().TxPass()->setText(QStringLiteral("a\u00A4b"));
    QTest::mouseClick(lobby().HutCount(1), Qt::LeftButton);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].title, "Stonecall");
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith("This password cannot be used: "));
    EXPECT_TRUE(lobby().MenuGame()->isVisible());
    EXPECT_TRUE(lobby().cmdCreate()->isVisible());
    EXPECT_TRUE(sentSoFar().empty());
}

TEST_F(HutWindows, LaunchShowsTheNoticeOnly)
{
    ModalScript dialogs;
    dialogs.push(ModalScript::pressOk());
    lobby().setLaunchVisible(true);
    QTest::mouseClick(lobby().cmdLaunch(), Qt::LeftButton);
    EXPECT_EQ(dialogs.shown(), (std::vector<Shown>{{"Stonecall", "Wait for next version :o"}}));
    EXPECT_TRUE(lobby().cmdLaunch()->isVisible());
    EXPECT_TRUE(sentSoFar().empty());
}

TEST_F(HutWindows, DoubleClicksJoinAskingForThePasswordWhereThereIsOne)
{
    addHut(7, "Secret", 3, 2);
    addHut(8, "NONE", 2);
    ModalScript dialogs;
    dialogs.push(ModalScript::type("wrong"));
    dialogs.push(ModalScript::pressOk());
    dialogs.push(ModalScript::type("")); // Cancel
    dialogs.push(ModalScript::type("sECRET"));

    doubleClick(hutLine("Host7", 1)); // wrong answer
    doubleClick(hutLine("Host7", 1)); // cancelled
    doubleClick(hutLine("Host7", 1));
    doubleClick(hutLine("Host7", 0)); // a taken place
    doubleClick(hutLine("Host8", 0)); // open: no question
    const Shown box{"Join Hut: Password Needed", PasswordPrompt};
    EXPECT_EQ(dialogs.shown(),
              (std::vector<Shown>{box, {"Stonecall", "Wrong password!"}, box, box}));
    EXPECT_EQ(sentSoFar(), (Messages{"BECLIENT" + S + "7" + S + "2", "BECLIENT" + S + "8" + S}));
}

TEST_F(HutWindows, DoubleClicksLeaveHutsExpanded)
{
    addHut(7, "NONE", 4, 2);
    addHut(1, "NONE", 2); // the local user's own hut
    ModalScript dialogs;
    const QtTreeView::Node* hut = hutLine("Host7");
    doubleClick(hut);
    EXPECT_TRUE(hutView()->isOpen(hut));
    doubleClick(hutLine("Host7", 0));
    doubleClick(hutLine("Host1"));
    doubleClick(hutLine("Host1", 0));
    EXPECT_TRUE(hutView()->isOpen(hut));
    EXPECT_TRUE(hutView()->isOpen(hutLine("Host1")));
    EXPECT_TRUE(lobby().lstHuts().isExpanded(treeKeys::hut(7)));
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_TRUE(sentSoFar().empty());
}

} // namespace

namespace {

TEST_F(HutWindows, TheSecondPressOfADoubleClickIsNoClick)
{
    addHut(8, "NONE", 2);
    // The open place is selected, so that a double-click on the list would join it.
    QTest::mouseClick(hutView()->viewport(), Qt::LeftButton, {},
                      hutView()->rectOf(hutLine("Host8", 0)).center());

    QTest::mouseDClick(lobby().cmdCreate(), Qt::LeftButton);
    ASSERT_TRUE(lobby().MenuGame()->isVisible()) << "opened once, not opened and closed";
    // The panel hides on the first click; the second press lands on the list behind it.
    QTest::mouseDClick(lobby().HutCount(0), Qt::LeftButton);
    EXPECT_FALSE(lobby().MenuGame()->isVisible());
    ASSERT_TRUE(lobby().cmdExit()->isVisible());
    QTest::mouseDClick(lobby().cmdExit(), Qt::LeftButton);

    EXPECT_EQ(sentSoFar(), (Messages{"BEHOST" + S + "2" + S + "NONE", "BEIDLE"}));
}

TEST_F(HutWindows, ClicksAndDoubleClicksAreOfTheLeftButtonOnTheControl)
{
    addHut(8, "NONE", 2);
    const QPoint place = hutView()->rectOf(hutLine("Host8", 0)).center();
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    QWidget* threePlayers = lobby().HutCount(1);
    QTest::mouseClick(threePlayers, Qt::RightButton);
    QTest::mouseClick(threePlayers, Qt::MiddleButton);
    QTest::mouseDClick(threePlayers, Qt::RightButton);
    // Pressed on the label, released far from it.
    QTest::mousePress(threePlayers, Qt::LeftButton);
    QTest::mouseRelease(threePlayers, Qt::LeftButton, {},
                        threePlayers->rect().center() + QPoint(300, 0));
    ASSERT_TRUE(lobby().MenuGame()->isVisible());

    QTest::mouseDClick(hutView()->viewport(), Qt::RightButton, {}, place);
    QTest::mouseDClick(hutView()->viewport(), Qt::MiddleButton, {}, place);
    QTest::mouseDClick(hutView()->viewport(), Qt::LeftButton, {}, place);
    QTest::mouseClick(threePlayers, Qt::LeftButton);

    EXPECT_EQ(sentSoFar(), (Messages{"BECLIENT" + S + "8" + S, "BEHOST" + S + "3" + S + "NONE"}));
}

TEST_F(HutWindows, LongTextsAreSentWhole)
{
    // Longer than the 32,767 characters a Qt line box holds by default.
    QString text;
    for (int i = 0; i < 4000; ++i)
        text += QStringLiteral("0123456789");
    const std::string whole = text.toStdString() + "!";
    QApplication::clipboard()->setText(text);

    QTest::mouseClick(lobby().TxOut(), Qt::LeftButton);
    paste(&lobby());
    type(&lobby(), "!");
    QTest::keyClick(lobby().windowHandle(), Qt::Key_Return);
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    QTest::mouseClick(lobby().TxPass(), Qt::LeftButton);
    paste(&lobby());
    type(&lobby(), "!");
    QTest::mouseClick(lobby().HutCount(0), Qt::LeftButton);
    // The answer to a hut's password question, pasted and typed into the input box. The
    // client keeps at most MaxFieldText bytes of the password the server sends.
    const std::string password = whole.substr(0, MaxFieldText - 1) + "!";
    QApplication::clipboard()->setText(
        QString::fromStdString(password.substr(0, MaxFieldText - 1)));
    addHut(8, password, 2);
    ModalScript dialogs;
    dialogs.push([](QDialog* box) {
        paste(box);
        type(box, "!");
        QTest::keyClick(box->windowHandle(), Qt::Key_Return);
    });
    doubleClick(hutLine("Host8", 0));
    const Messages sent = sentSoFar();
    // Compared whole; on a failure only the lengths are printed.
    std::vector<std::size_t> lengths;
    for (const std::string& message : sent)
        lengths.push_back(message.size());
    EXPECT_TRUE((sent == Messages{"SENDMSG" + S + EncryptText(whole),
                                  "BEHOST" + S + "2" + S + whole, "BECLIENT" + S + "8" + S + "1"}))
        << ::testing::PrintToString(lengths);

    QApplication::clipboard()->setText(text);
    LoginForm& login = app.loginForm();
    login.usrName()->clear();
    QTest::mouseClick(login.usrName(), Qt::LeftButton);
    paste(&login);
    type(&login, "!");
    QTest::mouseClick(login.cmdLogin(), Qt::LeftButton);
    ASSERT_TRUE(server.waitForMessages(1, 1));
    server.sendMessage(1, "VERSION" + S + "GOOD");
    ASSERT_TRUE(server.waitForMessages(1, 2));
    const std::string login1 = server.messages(1)[1];
    EXPECT_TRUE(login1 == "LOGIN" + S + whole + S + "127.0.0.1") << login1.size();
}

} // namespace

namespace {

// Both trees while the server streams changes: a row that still shows on screen, but whose
// node the last message removed, is clicked as a person would, and later nodes appear.
class StreamingTrees : public HutWindows {
protected:
    // Sends a change of user 50 every 4 ms, with a new name each time, so that every settle of
    // either tree shows something new.
    void startStream()
    {
        stream.setInterval(4);
        QObject::connect(&stream, &QTimer::timeout, [this] {
            const std::string name = "zz" + std::to_string(++streamed);
            server.sendMessage(0, "USER" + S + "50" + S + name + S + "x");
            server.sendMessage(0, "USERSTATE" + S + "50" + S + "HOST" + S + "2" + S + "NONE");
        });
        stream.start();
    }

    // Returns right after the view has been shown changes `count` times.
    static void waitForSettles(QtTreeView& tree, int count)
    {
        QSignalSpy settles(&tree, &QtTreeView::settled);
        ASSERT_TRUE(waitFor([&] { return settles.count() >= count; }));
    }

    // The text of the row at a point of the view, or none.
    static std::optional<std::string> textAt(RowView* view, const QPoint& point)
    {
        const QtTreeView::Node* node = view->rowAt(view->rowAtY(point.y()));
        return node ? std::optional(node->text) : std::nullopt;
    }

    void send(const std::vector<std::string>& messages)
    {
        for (const std::string& message : messages)
            server.sendMessage(0, message);
    }

    RowView* usersView() { return lobby().LstUSersView().view(); }

    QTimer stream;
    int streamed = 0;
};

TEST_F(StreamingTrees, AClickOnARemovedPlaceSelectsAndJoinsNothing)
{
    send({"USER" + S + "7" + S + "Big_Bob" + S + "x", "USER" + S + "9" + S + "Cy" + S + "x",
          "USER" + S + "50" + S + "zz" + S + "x",
          "USERSTATE" + S + "50" + S + "HOST" + S + "2" + S + "NONE",
          "USERSTATE" + S + "7" + S + "HOST" + S + "2" + S + "NONE"});
    ASSERT_TRUE(waitFor([&] { return lobby().lstHuts().contains(treeKeys::hut(50)); }));
    const QPoint bobsPlace = hutView()->rectOf(hutLine("Big Bob", 0)).center();
    startStream();
    waitForSettles(lobby().lstHutsView(), 2);

    // Right after a settle, so that the next one is a while away.
    server.sendMessage(0, "USERSTATE" + S + "7" + S + "IDLE");
    ASSERT_TRUE(waitFor([&] { return !lobby().lstHuts().contains(treeKeys::hut(7)); }));
    ASSERT_EQ(textAt(hutView(), bobsPlace), "Empty") << "not shown any more";
    QTest::mouseClick(hutView()->viewport(), Qt::LeftButton, {}, bobsPlace);
    EXPECT_EQ(lobby().lstHuts().selectedKey(), std::nullopt);

    // Once the removed nodes are long gone, another hut appears.
    waitForSettles(lobby().lstHutsView(), 3);
    server.sendMessage(0, "USERSTATE" + S + "9" + S + "HOST" + S + "2" + S + "NONE");
    ASSERT_TRUE(waitFor([&] { return hutLine("Cy", 0) != nullptr; }));
    EXPECT_EQ(lobby().lstHuts().selectedKey(), std::nullopt);
    EXPECT_FALSE(hutView()->currentNode());
    const QPoint blank(10, hutView()->viewport()->height() - 5);
    ASSERT_FALSE(textAt(hutView(), blank));
    QTest::mouseDClick(hutView()->viewport(), Qt::LeftButton, {}, blank);
    stream.stop();
    for (const std::string& message : sentSoFar())
        EXPECT_NE(message.rfind("BECLIENT", 0), 0u) << message;
}

TEST_F(StreamingTrees, AClickOnADepartedUserSelectsNothingThatComesLater)
{
    send({"USER" + S + "5" + S + "Ann" + S + "x", "USER" + S + "50" + S + "zz" + S + "x"});
    ASSERT_TRUE(waitFor([&] { return lobby().LstUSers().contains(treeKeys::user(50)); }));
    const QPoint ann =
        usersView()->rectOf(lobby().LstUSersView().shownNode(treeKeys::user(5))).center();
    ASSERT_FALSE(ann.isNull());
    startStream();
    waitForSettles(lobby().LstUSersView(), 2);

    server.sendMessage(0, "USER" + S + "5" + S + "NONE" + S + "x");
    ASSERT_TRUE(waitFor([&] { return !lobby().LstUSers().contains(treeKeys::user(5)); }));
    ASSERT_EQ(textAt(usersView(), ann), "Ann") << "not shown any more";
    QTest::mouseClick(usersView()->viewport(), Qt::LeftButton, {}, ann);
    EXPECT_EQ(lobby().LstUSers().selectedKey(), std::nullopt);

    waitForSettles(lobby().LstUSersView(), 3);
    server.sendMessage(0, "USER" + S + "30" + S + "Dee" + S + "x");
    ASSERT_TRUE(
        waitFor([&] { return lobby().LstUSersView().shownNode(treeKeys::user(30)) != nullptr; }));
    stream.stop();
    EXPECT_EQ(lobby().LstUSers().selectedKey(), std::nullopt);
    EXPECT_FALSE(usersView()->currentNode());
}

} // namespace
