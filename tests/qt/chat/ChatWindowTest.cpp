// The chat controls of the real lobby window: the log box's length and text as the user and
// the server change it, and Enter and clicks reaching the client.

#include "ScriptedServer.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"
#include "qt/LobbyForm.h"
#include "roster/ChatLog.h"
#include "wire/Encryptor.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {

// A key press carrying text that QTest cannot type.
void typeText(QWidget* widget, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
}

class ChatBoxTest : public ::testing::Test {
protected:
    ChatBoxTest() { form.show(); }

    // The length must agree with the text at every step, whoever changed the box.
    void expectConsistent(const std::string& expected)
    {
        EXPECT_EQ(form.chatText(), expected);
        EXPECT_EQ(form.chatLength(), expected.size());
    }
    QTextCursor endCursor()
    {
        QTextCursor cursor = form.TxChat()->textCursor();
        cursor.movePosition(QTextCursor::End);
        return cursor;
    }

    LobbyForm form;
    Messages sent;
    ChatLog chat{form, [this](std::string text) { sent.push_back(std::move(text)); }};
};

} // namespace

TEST_F(ChatBoxTest, RelayedLinesCountBreaksAsCrLf)
{
    expectConsistent("");
    chat.AddLog("Ann: hi");
    expectConsistent("Ann: hi\r\n");
    chat.AddLog("two\r\nlines");
    expectConsistent("Ann: hi\r\ntwo\r\nlines\r\n");
    EXPECT_EQ(form.TxChat()->document()->blockCount(), 4); // a line with CR LF shows as two
    chat.AddLog(std::string("\xE9\x80\xFF", 3));
    expectConsistent("Ann: hi\r\ntwo\r\nlines\r\n\xE9\x80\xFF\r\n");
    EXPECT_EQ(form.TxChat()->document()->findBlockByNumber(3).text(), QStringLiteral("é€ÿ"));
}

TEST_F(ChatBoxTest, ALoneCrOrLfStartsALineAndCountsAsCrLf)
{
    chat.AddLog("a\nb\rc");
    expectConsistent("a\r\nb\r\nc\r\n");
}

TEST_F(ChatBoxTest, CaretEndsAtTheNewestLine)
{
    for (int i = 0; i < 200; ++i)
        chat.AddLog("line " + std::to_string(i));
    EXPECT_EQ(form.TxChat()->textCursor().position(),
              form.TxChat()->document()->characterCount() - 1);
    const QRect caret = form.TxChat()->cursorRect();
    EXPECT_TRUE(form.TxChat()->viewport()->rect().contains(caret.center()));
}

TEST_F(ChatBoxTest, LimitHoldsInTheRealBox)
{
    const std::string filler(ChatLog::MaxLogLength - 2 - 3 * 2, 'x');
    chat.AddLog(filler);
    chat.AddLog("a\r\nb"); // a CR LF inside the line counts two as well: exactly 15000
    EXPECT_EQ(form.chatLength(), ChatLog::MaxLogLength);
    EXPECT_EQ(form.chatText().size(), ChatLog::MaxLogLength);
    chat.AddLog("");
    expectConsistent("\r\n");
    chat.AddLog("next");
    expectConsistent("\r\nnext\r\n");

    // A lone LF becomes CR LF in the box, so this line would take the log one past the limit.
    chat.AddLog(std::string(ChatLog::MaxLogLength - 5 - 8 - 2, 'x'));
    ASSERT_EQ(form.chatLength(), ChatLog::MaxLogLength - 5);
    chat.AddLog("a\nb");
    expectConsistent("a\r\nb\r\n");

    // A line too long to keep is never laid out: the box stays empty, its one block unwrapped.
    chat.AddLog(std::string(200000, 'w'));
    expectConsistent("");
    EXPECT_EQ(form.TxChat()->document()->blockCount(), 1);
}

TEST_F(ChatBoxTest, WhatTheUserTypesCountsLikeWhatTheServerSends)
{
    chat.AddLog("one");
    form.TxChat()->setTextCursor(endCursor());
    QTest::keyClicks(form.TxChat(), "ab");
    QTest::keyClick(form.TxChat(), Qt::Key_Return);
    QTest::keyClick(form.TxChat(), Qt::Key_Return, Qt::ShiftModifier); // no second kind of break
    QTest::keyClicks(form.TxChat(), "c");
    expectConsistent("one\r\nab\r\n\r\nc");
    EXPECT_EQ(form.TxChat()->toPlainText().count(QChar::LineSeparator), 0);

    chat.AddLog("two"); // goes after what the user left at the end
    expectConsistent("one\r\nab\r\n\r\nctwo\r\n");

    // Deleting a break removes both of its characters.
    QTextCursor cursor = form.TxChat()->textCursor();
    cursor.setPosition(3); // after "one"
    form.TxChat()->setTextCursor(cursor);
    QTest::keyClick(form.TxChat(), Qt::Key_Delete);
    expectConsistent("oneab\r\n\r\nctwo\r\n");
}

TEST_F(ChatBoxTest, TypedCharactersOutsideTheSetBecomeQuestionMarks)
{
    form.TxChat()->setTextCursor(endCursor());
    typeText(form.TxChat(), QString::fromUtf8("\xF0\x9F\x99\x82"));
    for (const QString& key : {QStringLiteral("é"), QStringLiteral("€"), QStringLiteral("一")})
        typeText(form.TxChat(), key);
    expectConsistent("?\xE9\x80?");
}

TEST_F(ChatBoxTest, PastedTextKeepsOneKindOfBreak)
{
    QApplication::clipboard()->setText(QString::fromUtf8("p\r\nq\rr\xE2\x80\xA8s\xF0\x9F\x99\x82"));
    form.TxChat()->setTextCursor(endCursor());
    form.TxChat()->paste();
    expectConsistent("p\r\nq\r\nr\r\ns?");
}

TEST_F(ChatBoxTest, AppendedLinesAreNotUndoneByTheUser)
{
    form.TxChat()->setTextCursor(endCursor());
    QTest::keyClicks(form.TxChat(), "x");
    chat.AddLog("server");
    form.TxChat()->undo();
    expectConsistent("xserver\r\n");
}

namespace {

class ChatThroughTheClient : public ::testing::Test {
protected:
    ChatThroughTheClient()
    {
        app.start();
        app.client().ServerPort = server.port();
        app.loginForm().usrName()->setText("Ann");
        QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
        EXPECT_TRUE(server.waitForMessages(0, 1)); // VERSION
        app.lobbyForm().show();
    }

    ScriptedServer server;
    ClientApp app;
};

} // namespace

TEST_F(ChatThroughTheClient, EnterSendsScrambledTextAndLogsNothing)
{
    LobbyForm& lobby = app.lobbyForm();
    app.client().AddLog("welcome");
    QTest::keyClicks(lobby.TxOut(), "h");
    typeText(lobby.TxOut(), QStringLiteral("é"));
    QTest::keyClick(lobby.TxOut(), Qt::Key_Return);
    ASSERT_TRUE(server.waitForMessages(0, 2));
    EXPECT_EQ(server.messages(0).at(1), "SENDMSG\xA4" + EncryptText("h\xE9"));
    EXPECT_TRUE(lobby.TxOut()->text().isEmpty());

    QTest::keyClick(lobby.TxOut(), Qt::Key_Enter); // the keypad's Enter, on an empty line
    ASSERT_TRUE(server.waitForMessages(0, 3));
    EXPECT_EQ(server.received(0).substr(server.received(0).size() - 9), "SENDMSG\xA4\x06");
    EXPECT_EQ(lobby.chatText(), "welcome\r\n");

    server.sendMessage(0, "MSG\xA4"
                          "Ann: \xA4" +
                              EncryptText("h\xE9"));
    EXPECT_TRUE(waitFor([&] { return lobby.chatText() == "welcome\r\nAnn: h\xE9\r\n"; }));
    EXPECT_EQ(lobby.TxChat()->document()->lastBlock().previous().text(), QStringLiteral("Ann: hé"));

    QTest::keyClicks(lobby.TxOut(), "x");
    QTest::keyClick(lobby.TxOut(), Qt::Key_Tab);
    EXPECT_EQ(lobby.TxOut()->text(), "x"); // other keys send nothing
}

TEST_F(ChatThroughTheClient, ClickInTheLogHidesTheCreatePanel)
{
    LobbyForm& lobby = app.lobbyForm();
    lobby.setMenuGameVisible(true);
    QTest::mouseClick(lobby.TxChat()->viewport(), Qt::LeftButton);
    EXPECT_FALSE(lobby.isMenuGameVisible());
}

TEST_F(ChatBoxTest, LinesOfOneArrivalEndAsTheSameLogAsLinesOneByOne)
{
    // Lines that cross the limit, lone breaks, a line too long to keep and short ones after.
    std::vector<std::string> lines;
    for (int i = 0; i < 5; ++i)
        lines.push_back(std::string(6000 + i, 'a' + i));
    lines.push_back("b\nc\rd\r\ne");
    lines.push_back(std::string(ChatLog::MaxLogLength + 1, 'z'));
    lines.push_back("after");
    lines.push_back(std::string(ChatLog::MaxLogLength - 2, 'y'));
    lines.push_back("last\n");

    LobbyForm single;
    ChatLog singleChat{single, [](std::string) {}};
    for (std::size_t n = 0; n < lines.size(); ++n) {
        singleChat.AddLog(lines[n]);
        if (n % 3 == 0)
            form.beginBurst();
        chat.AddLog(lines[n]);
        // Within the arrival the box counts and reads what it has not laid out yet.
        EXPECT_EQ(form.chatLength(), single.chatLength()) << n;
        EXPECT_EQ(form.chatText(), single.chatText()) << n;
        if (n % 3 != 2)
            continue;
        form.endBurst();
        EXPECT_EQ(form.TxChat()->toPlainText(), single.TxChat()->toPlainText()) << n;
        EXPECT_EQ(form.TxChat()->textCursor().position(), single.TxChat()->textCursor().position())
            << n;
    }
    form.endBurst();
    expectConsistent(single.chatText());
    EXPECT_EQ(form.chatText(), "last\r\n\r\n");
}

TEST_F(ChatBoxTest, TheScreenShowsTheLogAfterEveryLine)
{
    // The box repaints only the lines that changed: what reaches the screen must still be
    // what painting the whole window afresh gives, as lines arrive one by one, wrap, come
    // several in one append, scroll the box, and when the log starts afresh.
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QWindow* window = form.windowHandle();
    const auto screenMatchesFreshPaint = [&] {
        QCoreApplication::processEvents();
        const QImage screen = window->screen()->grabWindow(form.winId()).toImage();
        const QImage fresh = form.grab().toImage().convertToFormat(screen.format());
        return screen == fresh;
    };
    ASSERT_TRUE(screenMatchesFreshPaint());
    for (int n = 0; n < 60; ++n) {
        if (n == 20)
            chat.AddLog("three\r\nlines\nat once");
        else if (n == 30)
            chat.AddLog(std::string(300, 'w') + " wraps over several lines of the box");
        else if (n == 45)
            form.clearChat();
        else
            chat.AddLog("line " + std::to_string(n));
        ASSERT_TRUE(screenMatchesFreshPaint()) << n;
    }
}
