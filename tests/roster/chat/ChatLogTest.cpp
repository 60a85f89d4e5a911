#include "roster/ChatLog.h"
#include "ClientFixture.h"
#include "wire/Encryptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {

class ChatLogTest : public ::testing::Test {
protected:
    FakeLobbyWindow lobby;
    Messages sent;
    ChatLog chat{lobby, [this](std::string text) { sent.push_back(std::move(text)); }};
};

} // namespace

TEST_F(ChatLogTest, LinesEndWithCrLfAfterWhateverTheBoxHolds)
{
    chat.AddLog("Ann: hello");
    EXPECT_EQ(lobby.chat, "Ann: hello\r\n");
    EXPECT_TRUE(lobby.caretAtEnd);
    lobby.chat += "typed by the user";
    chat.AddLog("");
    chat.AddLog("two\r\nlines");
    EXPECT_EQ(lobby.chat, "Ann: hello\r\ntyped by the user\r\ntwo\r\nlines\r\n");
}

TEST_F(ChatLogTest, PastTheLimitTheLogStartsAfreshWithTheNewestLineWhenItFitsAlone)
{
    const std::string filler(ChatLog::MaxLogLength - 12, 'x');
    chat.AddLog(filler);              // filler + CR LF
    chat.AddLog(std::string(8, 'y')); // reaches 15000 exactly
    EXPECT_EQ(lobby.chat, filler + "\r\n" + std::string(8, 'y') + "\r\n");
    chat.AddLog(""); // 15002: the log is emptied and holds the newest line alone
    EXPECT_EQ(lobby.chat, "\r\n");
    chat.AddLog("fresh");
    EXPECT_EQ(lobby.chat, "\r\nfresh\r\n");

    // The length counts from the kept line: a line of exactly the limit fits alone, and the
    // next one starts afresh again.
    lobby.chat = std::string(ChatLog::MaxLogLength - 2, 'x');
    const std::string full(ChatLog::MaxLogLength - 2, 'z');
    chat.AddLog(full);
    EXPECT_EQ(lobby.chat, full + "\r\n");
    chat.AddLog("a");
    EXPECT_EQ(lobby.chat, "a\r\n");

    // A line over the limit by itself leaves the log empty and never reaches the box; lone
    // breaks count as CR LF, as the box shows them.
    lobby.chat = "kept";
    lobby.caretAtEnd = false;
    chat.AddLog(std::string(ChatLog::MaxLogLength - 1, 'z'));
    EXPECT_EQ(lobby.chat, "");
    EXPECT_FALSE(lobby.caretAtEnd);
    chat.AddLog(std::string(ChatLog::MaxLogLength - 3, 'z') + "\n");
    EXPECT_EQ(lobby.chat, "");
}

TEST_F(ChatLogTest, EnterSendsTheScrambledTextAndEmptiesTheInputOnly)
{
    lobby.chat = "before\r\n";
    lobby.out = "hi there";
    chat.TxOut_KeyPress(ChatLog::EnterKey);
    EXPECT_EQ(sent, Messages{"SENDMSG\xA4" + EncryptText("hi there")});
    EXPECT_EQ(sent[0].size(), 8u + 2 * 8u);
    EXPECT_EQ(lobby.out, "");
    EXPECT_EQ(lobby.chat, "before\r\n");
}

TEST_F(ChatLogTest, OtherKeysDoNothing)
{
    lobby.out = "abc";
    for (int key : {0, 10, 27, int('a'), 0x0D + 256})
        chat.TxOut_KeyPress(key);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(lobby.out, "abc");
}

TEST_F(ChatLogTest, SeparatorsTypedByTheUserTravelScrambled)
{
    const std::string typed("a\xA4\x06", 3);
    lobby.out = typed;
    chat.TxOut_KeyPress(ChatLog::EnterKey);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "SENDMSG\xA4" + EncryptText(typed));
    EXPECT_EQ(sent[0].find('\x06'), std::string::npos);
    EXPECT_EQ(sent[0].find('\xA4', 8), std::string::npos);
}

// Through the client: what goes out on the socket, end mark included, and what comes back.
class ClientChat : public ClientFixture {
protected:
    ClientChat()
    {
        connect();
        ws.sent.clear();
    }
};

TEST_F(ClientChat, EnterInAnEmptyInputSendsTheBareCommand)
{
    client.AddLog("motd");
    client.TxOut_KeyPress(13);
    EXPECT_EQ(ws.sent, "SENDMSG\xA4\x06");
    EXPECT_EQ(lobby.chat, "motd\r\n");
    EXPECT_EQ(lobby.out, "");
}

TEST_F(ClientChat, OwnLineShowsOnlyWhenRelayed)
{
    lobby.out = "hi";
    client.TxOut_KeyPress(13);
    EXPECT_EQ(ws.takeSent(), Messages{"SENDMSG\xA4" + EncryptText("hi")});
    EXPECT_EQ(lobby.chat, "");
    receive("MSG\xA4"
            "Ann: \xA4" +
            EncryptText("hi"));
    EXPECT_EQ(lobby.chat, "Ann: hi\r\n");
    EXPECT_TRUE(lobby.caretAtEnd);
}

TEST_F(ClientChat, ClickOnTheLogReachesTheChat)
{
    lobby.menuGame = true;
    client.TxChat_Click();
    EXPECT_FALSE(lobby.menuGame);
}
