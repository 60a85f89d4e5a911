#include "protocol/Dispatcher.h"
#include "ClientFixture.h"
#include "WireMessages.h"
#include "wire/Encryptor.h"
#include "wire/Verify.h"

using namespace stonecall;
using stonecall::testing::ClientFixture;
using Messages = std::vector<std::string>;

namespace {

using test::S;

class DispatcherTest : public ClientFixture {
protected:
    DispatcherTest()
    {
        connect();
        ws.takeSent();
    }

    // Logs in as `me` with the given users present (index -> name).
    void logIn(int me, const std::vector<std::pair<int, std::string>>& users)
    {
        receive("LOGIN" + S + std::to_string(me));
        for (const auto& [index, name] : users)
            receive("USER" + S + std::to_string(index) + S + name + S + "x");
        receive("ENDUSERS");
        ws.takeSent();
    }

    const UserInfo& user(std::size_t i) { return client.session().Users[i]; }
    UserTable& users() { return client.session().Users; }
};

} // namespace

TEST_F(DispatcherTest, LoginConversationStepByStep)
{
    login.usrName = "Ann";
    client.session().MyName = "Ann";
    receive("VERSION" + S + "GOOD");
    EXPECT_EQ(ws.takeSent(), Messages{"LOGIN" + S + "Ann" + S + "127.0.0.1"});
    EXPECT_EQ(login.progressValue, 2);

    receive("LOGIN" + S + "4");
    EXPECT_EQ(client.session().MyIndex, 4);
    EXPECT_EQ(login.progressValue, 3);
    EXPECT_EQ(login.status, "Login OK! Requesting userlist...");
    EXPECT_TRUE(lobby.visible);
    EXPECT_TRUE(login.visible);
    EXPECT_EQ(ws.takeSent(), Messages{"GETUSERLIST"});

    receive("ENDUSERS");
    EXPECT_FALSE(login.visible);
    EXPECT_EQ(ws.takeSent(), Messages{"MOTD"});

    receive("MOTDLINE" + S + EncryptText("Welcome!"));
    EXPECT_EQ(lobby.chat, "Welcome!\r\n");
}

TEST_F(DispatcherTest, MessageSplitAtEveryBytePositionIsActedOnOnce)
{
    users().growTo(3);
    users().edit(3).Name = "Bo";
    const std::string message = "USERSTATE" + S + "3" + S + "GAMING" + '\x06';
    for (std::size_t cut = 0; cut <= message.size(); ++cut) {
        users().edit(3).State = "IDLE";
        ws.deliver(message.substr(0, cut));
        ASSERT_EQ(user(3).State, cut == message.size() ? "GAMING" : "IDLE") << "cut " << cut;
        ws.deliver(message.substr(cut));
        ASSERT_EQ(user(3).State, "GAMING") << "cut " << cut;
        ASSERT_TRUE(client.session().RecvBuffer.empty());
    }
}

TEST_F(DispatcherTest, EmptyMessagesUnknownAndLowerCaseKeywordsDoNothing)
{
    ws.deliver("\x06\x06");
    receive("version" + S + "GOOD");
    receive("ping");
    receive("HELLO" + S + "1");
    EXPECT_TRUE(ws.takeSent().empty());
    EXPECT_EQ(login.progressValue, 1);
    EXPECT_EQ(lobby.burstDepth, 0);
}

TEST_F(DispatcherTest, PingIsAnsweredWhateverFollows)
{
    ws.deliver("PING\x06PING" + S + "\x06");
    EXPECT_EQ(ws.takeSent(), (Messages{"PINGREPLY", "PINGREPLY"}));
}

TEST_F(DispatcherTest, UserGrowsTheTableAndNoneFreesTheEntry)
{
    receive("USER" + S + "5" + S + "NONE" + S + "x");
    EXPECT_EQ(users().MaxUserIndex(), 5);
    EXPECT_EQ(user(5).Name, "");
    receive("USER" + S + "2" + S + "Ann" + S + "extra");
    EXPECT_EQ(users().MaxUserIndex(), 5); // never shrinks
    EXPECT_EQ(user(2).Name, "Ann");
    EXPECT_EQ(user(2).Extra, "extra");
}

TEST_F(DispatcherTest, UserKeepsTheStateOfAReusedEntry)
{
    logIn(1, {{1, "Me"}, {2, "Old"}});
    receive("USERSTATE" + S + "2" + S + "HOST" + S + "3" + S + "pw");
    receive("USER" + S + "2" + S + "NONE" + S + "");
    receive("USER" + S + "2" + S + "New" + S + "");
    EXPECT_EQ(user(2).State, "HOST");
    EXPECT_EQ(user(2).HutSize, 3);
    EXPECT_EQ(user(2).HutPassword, "pw");
}

TEST_F(DispatcherTest, ClientStateWithAndWithoutPlace)
{
    logIn(1, {{1, "Me"}, {2, "Bo"}, {7, "Host"}});
    users().edit(2).Slot = 3;
    receive("USERSTATE" + S + "2" + S + "CLIENT" + S + "7");
    EXPECT_EQ(user(2).State, "CLIENT");
    EXPECT_EQ(user(2).JoinedHost, 7);
    EXPECT_EQ(user(2).Slot, 3);
    receive("USERSTATE" + S + "2" + S + "CLIENT" + S + "7" + S + "1");
    EXPECT_EQ(user(2).Slot, 1);
}

TEST_F(DispatcherTest, StatesKeepTheOtherStatesFields)
{
    logIn(1, {{1, "Me"}, {2, "Bo"}});
    receive("USERSTATE" + S + "2" + S + "CLIENT" + S + "7" + S + "2");
    receive("USERSTATE" + S + "2" + S + "HOST" + S + "4" + S + "NONE");
    receive("USERSTATE" + S + "2" + S + "away");
    EXPECT_EQ(user(2).State, "away");
    EXPECT_EQ(user(2).JoinedHost, 7);
    EXPECT_EQ(user(2).Slot, 2);
    EXPECT_EQ(user(2).HutSize, 4);
    EXPECT_EQ(user(2).HutPassword, "NONE");
}

TEST_F(DispatcherTest, HostOfOurHutGoingIdleMakesUsLeave)
{
    logIn(1, {{1, "Me"}, {7, "Host"}});
    receive("USERSTATE" + S + "7" + S + "HOST" + S + "3" + S + "NONE");
    receive("USERSTATE" + S + "1" + S + "CLIENT" + S + "7" + S + "1");
    ws.takeSent();

    receive("USERSTATE" + S + "7" + S + "GAMING");
    EXPECT_TRUE(ws.takeSent().empty());
    users().edit(7).State = "HOST";
    receive("USERSTATE" + S + "7" + S + "HOST" + S + "4" + S + "NONE");
    EXPECT_TRUE(ws.takeSent().empty());

    receive("USERSTATE" + S + "7" + S + "IDLE");
    EXPECT_EQ(ws.takeSent(), Messages{"BEIDLE"});
    EXPECT_EQ(user(7).State, "IDLE");
    // Once the host is idle, nothing more is sent for it.
    receive("USERSTATE" + S + "7" + S + "IDLE");
    EXPECT_TRUE(ws.takeSent().empty());
}

TEST_F(DispatcherTest, OnlyAMemberOfTheHutThatEndsLeavesIt)
{
    logIn(1, {{1, "Me"}, {5, "Other"}, {7, "Host"}});
    receive("USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "NONE");
    receive("USERSTATE" + S + "7" + S + "HOST" + S + "3" + S + "NONE");
    receive("USERSTATE" + S + "1" + S + "CLIENT" + S + "7");
    ws.takeSent();
    // Another host's hut ends.
    receive("USERSTATE" + S + "5" + S + "IDLE");
    EXPECT_TRUE(ws.takeSent().empty());

    // Hosting or playing ourselves, the host we once joined is no business of ours.
    for (const std::string& own :
         {std::string("HOST") + S + "2" + S + "NONE", std::string("GAMING")}) {
        users().edit(7).State = "HOST";
        receive("USERSTATE" + S + "1" + S + own);
        ASSERT_EQ(user(1).JoinedHost, 7);
        receive("USERSTATE" + S + "7" + S + "IDLE");
        EXPECT_TRUE(ws.takeSent().empty()) << own;
    }
}

TEST_F(DispatcherTest, StateChangesRedrawBothTreesAndCreateHostNeither)
{
    logIn(1, {{1, "Me"}, {2, "Bo"}, {3, "Cy"}});
    receive("USERSTATE" + S + "3" + S + "HOST" + S + "2" + S + "NONE");
    receive("USERSTATE" + S + "2" + S + "CLIENT" + S + "3" + S + "1");
    EXPECT_EQ(lobby.users.parentKey("u2"), "w");
    EXPECT_TRUE(lobby.huts.contains("c2"));

    // A member who starts playing moves at once, and leaves the hut tree.
    receive("USERSTATE" + S + "2" + S + "GAMING");
    EXPECT_EQ(lobby.users.parentKey("u2"), "p");
    EXPECT_FALSE(lobby.huts.contains("c2"));

    // A new host, as far as the table goes; the trees wait for the next USER or USERSTATE.
    const std::string usersBefore = lobby.users.dump(), hutsBefore = lobby.huts.dump();
    receive("CREATEHOST" + S + "2");
    EXPECT_EQ(user(2).State, "HOST");
    EXPECT_EQ(lobby.users.dump(), usersBefore);
    EXPECT_EQ(lobby.huts.dump(), hutsBefore);
    receive("USERSTATE" + S + "1" + S + "IDLE");
    EXPECT_EQ(lobby.users.parentKey("u2"), "w");
    EXPECT_TRUE(lobby.huts.contains("h2"));
}

TEST_F(DispatcherTest, OwnStateDrivesTheHutButtons)
{
    logIn(1, {{1, "Me"}, {2, "Bo"}});
    lobby.create = false;
    lobby.exit = true;
    receive("USERSTATE" + S + "1" + S + "HOST" + S + "2" + S + "NONE");
    EXPECT_TRUE(lobby.launch);

    receive("USERSTATE" + S + "2" + S + "IDLE");
    EXPECT_TRUE(lobby.launch);
    EXPECT_TRUE(lobby.exit);
    EXPECT_FALSE(lobby.create);

    receive("USERSTATE" + S + "1" + S + "IDLE");
    EXPECT_FALSE(lobby.launch);
    EXPECT_FALSE(lobby.exit);
    EXPECT_TRUE(lobby.create);

    receive("USERSTATE" + S + "2" + S + "HOST" + S + "2" + S + "NONE");
    EXPECT_FALSE(lobby.launch); // another user's hut
}

TEST_F(DispatcherTest, CreateHostChangesOnlyTheState)
{
    logIn(1, {{1, "Me"}, {3, "Cy"}});
    receive("CREATEHOST" + S + "3");
    EXPECT_EQ(user(3).State, "HOST");
    receive("CREATEHOST" + S + "3x");
    receive("CREATEHOST" + S + "9");
    receive("CREATEHOST");
    EXPECT_EQ(users().MaxUserIndex(), 3);
}

TEST_F(DispatcherTest, ChatLinesReachTheLog)
{
    receive("MSG" + S + "Ann: " + S + EncryptText("hello"));
    receive("MSG" + S + "Bo:" + S + EncryptText("hi"));
    receive("MSG" + S + S + EncryptText("alone"));
    receive("PUBMSG" + S + "4142" + S + "x");
    EXPECT_EQ(lobby.chat, "Ann: hello\r\nBo:hi\r\nalone\r\n4142x\r\n");
}

TEST_F(DispatcherTest, VerifyResponses)
{
    const std::vector<std::pair<std::string, std::string>> answered = {
        {"0", "0"},
        {"1", "42362"},
        {"-1", "-42354"},
        {"5000", "311790000"},
        {"5794", "379703996"},    // sum exactly 32767
        {"-26973", "1767648582"}, // sum exactly -32767
        {"12", "508872"},
    };
    for (const auto& [challenge, response] : answered) {
        receive("VERIFY" + S + challenge);
        EXPECT_EQ(ws.takeSent(), Messages{"VERIFY" + S + response}) << challenge;
    }
    for (const char* challenge :
         {"5795", "11589", "-26974", "-32768", "32767", "40000", "abc", "", "1 2", " 12 ", "12 "}) {
        receive("VERIFY" + S + challenge);
        EXPECT_TRUE(ws.takeSent().empty()) << challenge;
    }
    EXPECT_EQ(verifyResponse(12), 508872);
}

TEST_F(DispatcherTest, MalformedMessagesChangeNothing)
{
    logIn(1, {{1, "Me"}, {2, "Bo"}});
    receive("USERSTATE" + S + "2" + S + "CLIENT" + S + "7" + S + "1");
    const UserInfo before = user(2);
    const std::string chatBefore = lobby.chat;
    const std::vector<std::string> malformed = {
        "VERSION",
        "LOGIN",
        "LOGIN" + S + "-3",
        "LOGIN" + S + "40000",
        "USER" + S + "2" + S + "X", // no extra field
        "USER" + S + "-1" + S + "X" + S + "",
        "USER" + S + "32768" + S + "X" + S + "",
        "USERSTATE" + S + "2",
        "USERSTATE" + S + "9" + S + "IDLE", // outside the table
        "USERSTATE" + S + "-1" + S + "IDLE",
        "USERSTATE" + S + "2" + S + "HOST" + S + "3", // no password field
        "USERSTATE" + S + "2" + S + "CLIENT",
        "USERSTATE" + S + "2" + S + "CLIENT" + S + "1e20",
        "USERSTATE" + S + "2" + S + "CLIENT" + S + "7" + S + "9e99",
        "MSG" + S + "Ann: ",
        "PUBMSG" + S + "x",
        "MOTDLINE",
    };
    for (const auto& message : malformed)
        receive(message);
    EXPECT_EQ(user(2), before);
    EXPECT_EQ(users().MaxUserIndex(), 2);
    EXPECT_EQ(client.session().MyIndex, 1);
    EXPECT_EQ(lobby.chat, chatBefore);
    EXPECT_TRUE(ws.takeSent().empty());
}

TEST_F(DispatcherTest, OneArrivalIsOneBurst)
{
    int bursts = 0;
    ws.onDataArrival = [&, inner = ws.onDataArrival](std::size_t n) {
        inner(n);
        ++bursts;
    };
    ws.deliver("PING\x06PING\x06PING\x06");
    EXPECT_EQ(bursts, 1);
    EXPECT_EQ(lobby.burstDepth, 0);
}
