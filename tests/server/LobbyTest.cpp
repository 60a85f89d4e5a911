// The lobby at its message boundary: the phases of a connection, the user table and what
// everyone hears (user lists, chat, notices).

#include "LobbyFixture.h"

#include "wire/Encryptor.h"
#include "wire/Verify.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

class LobbyTest : public LobbyFixture {};

TEST_F(LobbyTest, LogInConversationInTheOrderClientsExpect)
{
    lobby->connected(1);
    send(1, msg("VERSION", {"1"}));
    send(1, msg("LOGIN", {"ann", "10.0.0.1"}));
    send(1, "GETUSERLIST");
    send(1, "MOTD");
    EXPECT_THAT(out->take(1),
                ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"1"}), user(0, "NONE"),
                            user(1, "ann"), state(1, "IDLE"), "ENDUSERS",
                            msg("MOTDLINE", {EncryptText("Hi")}), msg("MOTDLINE", {""})));

    // A newcomer is announced to the others, not to itself.
    login(2, "bob");
    EXPECT_THAT(out->take(2), ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"2"})));
    EXPECT_THAT(out->take(1), ElementsAre(user(2, "bob"), state(2, "IDLE")));
    EXPECT_EQ(lobby->userCount(), 2u);
    EXPECT_THAT(out->drops, IsEmpty());
}

TEST_F(LobbyTest, OtherVersionsAreAnsweredThenClosed)
{
    for (const Message& version : {msg("VERSION", {"2"}), msg("VERSION", {""}), Message("VERSION"),
                                   msg("VERSION", {" 1"})}) {
        SCOPED_TRACE(version);
        out->sent.clear();
        out->drops.clear();
        lobby->connected(7);
        send(7, version);
        EXPECT_THAT(out->take(7), ElementsAre(msg("VERSION", {"BAD"})));
        EXPECT_TRUE(out->dropped(7, DropKind::Close));
        EXPECT_EQ(lobby->connectionCount(), 0u);
    }
    // Keywords are exact: a lower-case one is ignored.
    lobby->connected(8);
    send(8, msg("version", {"1"}));
    EXPECT_THAT(out->take(8), IsEmpty());
}

TEST_F(LobbyTest, LowestFreeIndexIsReusedAndListsCoverEveryIndexHandedOut)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    clear();
    lobby->disconnected(2);
    EXPECT_THAT(out->take(1), ElementsAre(user(2, "NONE")));
    EXPECT_THAT(out->take(3), ElementsAre(user(2, "NONE")));
    EXPECT_THAT(out->take(2), IsEmpty());

    login(4, "dan");
    EXPECT_THAT(out->take(4), ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"2"})));

    // With the highest index free, a list still names it free for clients that knew it.
    send(3, "LOGOUT");
    EXPECT_TRUE(out->dropped(3, DropKind::Close));
    clear();
    send(1, "GETUSERLIST");
    EXPECT_THAT(out->take(1),
                ElementsAre(user(0, "NONE"), user(1, "ann"), user(2, "dan"), user(3, "NONE"),
                            state(1, "IDLE"), state(2, "IDLE"), "ENDUSERS"));
}

TEST_F(LobbyTest, RequestsBeforeLogInAndRepeatedHandshakesAreIgnored)
{
    lobby->connected(1);
    send(1, "GETUSERLIST");
    send(1, "MOTD");
    send(1, msg("SENDMSG", {EncryptText("hi")}));
    send(1, msg("BEHOST", {"2", "NONE"}));
    send(1, "LOGOUT");
    EXPECT_THAT(out->take(1), IsEmpty());
    EXPECT_EQ(lobby->connectionCount(), 1u);

    login(2, "ann");
    clear();
    send(2, msg("VERSION", {"1"}));
    send(2, msg("LOGIN", {"other", "ip"}));
    send(2, "");
    send(2, "NOSUCHWORD");
    EXPECT_THAT(out->take(2), IsEmpty());
    EXPECT_EQ(lobby->userCount(), 1u);
}

TEST_F(LobbyTest, ChatGoesToEveryoneWithTheSendersName)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    send(2, msg("SENDMSG", {EncryptText("hello")}));
    const Message line = msg("MSG", {"bob: ", EncryptText("hello")});
    EXPECT_THAT(out->take(1), ElementsAre(line));
    EXPECT_THAT(out->take(2), ElementsAre(line));

    // Too long: cut, and the sender told so.
    const std::string longText(600, 'z');
    clear();
    send(1, msg("SENDMSG", {EncryptText(longText)}));
    const Message cut = msg("MSG", {"ann: ", EncryptText(longText.substr(0, 512))});
    EXPECT_THAT(out->take(2), ElementsAre(cut));
    EXPECT_THAT(out->take(1), ElementsAre(notice("Your line was too long: only its first 512 "
                                                 "characters were sent."),
                                          cut));

    send(1, "SENDMSG");
    send(1, msg("SENDMSG", {"XYZ"}));
    EXPECT_THAT(out->take(2), IsEmpty());
    // A line break cannot start a line of its own, nor can a wrap of blanks or a form feed.
    send(1, msg("SENDMSG", {EncryptText("two\r\nlines")}));
    send(1, msg("SENDMSG", {EncryptText("hi" + std::string(120, ' ') + "bob: my pw is x\f")}));
    EXPECT_THAT(out->take(2),
                ElementsAre(msg("MSG", {"ann: ", EncryptText("two lines")}),
                            msg("MSG", {"ann: ", EncryptText("hi bob: my pw is x ")})));
}

TEST_F(LobbyTest, FloodOf500LinesLeavesOthersLogsIntactTellsThenDropsTheFlooder)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "eve", "10.6.6.6");
    out->sent.clear();

    std::string flood;
    for (int i = 0; i < 500; ++i)
        flood += msg("SENDMSG", {EncryptText("spam " + std::to_string(i))}).bytes + MsgEnd;
    lobby->bytesReceived(3, flood);

    // The burst is relayed, nothing after it.
    Messages burst;
    for (int i = 0; i < LobbyLimits{}.chatBurst; ++i)
        burst.push_back(chat("eve", "spam " + std::to_string(i)));
    Messages eveHeard = burst;
    burst.push_back(msg("USER", {"3", "NONE", ""})); // eve leaves
    EXPECT_EQ(out->take(1), burst);
    EXPECT_EQ(out->take(2), burst);
    // Told once that lines are not relayed, once why it is dropped; then closed.
    eveHeard.push_back(notice("You are sending too fast: your lines are not being relayed. "
                              "Slow down or be disconnected."));
    eveHeard.push_back(notice("Disconnected for flooding the chat."));
    EXPECT_EQ(out->take(3), eveHeard);
    EXPECT_TRUE(out->dropped(3));
    EXPECT_THAT(out->log, testing::Contains("3 chat over the rate: not relayed"));
    EXPECT_THAT(out->log, testing::Contains("3 dropped: flooding the chat"));

    // Tokens come back with time: a steady talker is never stopped.
    for (int second = 0; second < 30; ++second) {
        now += std::chrono::seconds(1);
        send(1, msg("SENDMSG", {EncryptText("hello")}));
    }
    EXPECT_EQ(out->take(2).size(), 30u);
    EXPECT_FALSE(out->dropped(1));
    // A short excess is refused but forgiven once a line passes again.
    for (int i = 0; i < 10; ++i)
        send(1, msg("SENDMSG", {EncryptText("x")}));
    now += std::chrono::seconds(2);
    send(1, msg("SENDMSG", {EncryptText("y")}));
    EXPECT_EQ(out->take(2).back(), chat("ann", "y"));
    EXPECT_TRUE(loggedIn(1));
}

TEST_F(LobbyTest, OperatorNoticeReachesEveryUserAsOneLobbyLine)
{
    login(1, "ann");
    lobby->connected(2, "10.0.0.2"); // not logged in: hears nothing
    out->sent.clear();
    lobby->announce("Shutdown in 60 seconds\r\n\xA4"
                    "bob: x");
    lobby->announce(" \x01 ");
    EXPECT_THAT(out->take(1), ElementsAre(notice("Shutdown in 60 seconds   bob: x")));
    EXPECT_THAT(out->take(2), IsEmpty());
}

TEST_F(LobbyTest, LogOutEndsTheConnectionAndWhatFollowsIsIgnored)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    lobby->bytesReceived(1, "LOGOUT\x06SENDMSG\xA4" + EncryptText("late") + "\x06");
    EXPECT_TRUE(out->dropped(1, DropKind::Close));
    EXPECT_THAT(out->take(2), ElementsAre(user(1, "NONE")));
    EXPECT_THAT(out->take(1), IsEmpty());
    lobby->bytesReceived(1, "GETUSERLIST\x06");
    lobby->disconnected(1);
    EXPECT_THAT(out->take(2), IsEmpty());
}

TEST_F(LobbyTest, MessagesLongerThanFourKibibytesDropTheSender)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    // Exactly the limit is still taken (an unknown keyword, ignored).
    lobby->bytesReceived(1, std::string(MaxMessageLength, 'X') + MsgEnd);
    EXPECT_TRUE(out->drops.empty());

    // One byte more, even before its end arrives, drops the sender.
    lobby->bytesReceived(1, std::string(MaxMessageLength / 2, 'X'));
    lobby->bytesReceived(1, std::string(MaxMessageLength / 2 + 1, 'X'));
    EXPECT_TRUE(out->dropped(1, DropKind::Abort));
    EXPECT_THAT(out->take(2), ElementsAre(user(1, "NONE")));
}

TEST_F(LobbyTest, MessagesSplitAnywhereActAsOne)
{
    const std::string stream = msg("VERSION", {"1"}).bytes + MsgEnd + MsgEnd +
                               msg("LOGIN", {"ann", "ip"}).bytes + MsgEnd + "GETUSERLIST" + MsgEnd;
    lobby->connected(1);
    lobby->bytesReceived(1, stream);
    const Messages whole = out->take(1);
    ASSERT_EQ(whole.size(), 6u);

    start();
    lobby->connected(1);
    for (char byte : stream)
        lobby->bytesReceived(1, std::string_view(&byte, 1));
    EXPECT_EQ(out->take(1), whole);
}

TEST_F(LobbyTest, PingsDropAClientThatMissesTwoInARow)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    for (int round = 0; round < 5; ++round) {
        lobby->tick();
        send(1, "PINGREPLY");
    }
    EXPECT_THAT(out->take(1), ElementsAre("PING", "PING", "PING", user(2, "NONE"), "PING", "PING"));
    EXPECT_EQ(out->take(2), Messages(2, "PING")); // the third tick drops it
    EXPECT_TRUE(out->dropped(2, DropKind::Abort));
    EXPECT_EQ(lobby->userCount(), 1u);
}

TEST_F(LobbyTest, ConnectionsThatDoNotLogInInTimeAreToldAndDroppedWithoutPings)
{
    lobby->connected(1, "10.0.0.1");
    send(1, msg("VERSION", {"1"}));
    lobby->connected(2, "10.0.0.2");
    now += std::chrono::seconds(9);
    lobby->sweep();
    send(2, msg("VERSION", {"1"}));
    send(2, msg("LOGIN", {"ann"}));
    EXPECT_TRUE(out->drops.empty());
    now += std::chrono::seconds(1);
    lobby->sweep();
    EXPECT_THAT(out->drops, ElementsAre(std::pair(ConnectionId{1}, DropKind::Close)));
    EXPECT_THAT(
        out->take(1),
        ElementsAre(msg("VERSION", {"GOOD"}),
                    msg("PUBMSG", {"*lobby*: ", "Disconnected: no log-in in the time allowed."})));
    EXPECT_EQ(lobby->refusals()[static_cast<int>(Refusal::LoginDeadline)], 1u);
    EXPECT_TRUE(loggedIn(2));
    EXPECT_EQ(lobby->pendingCount(), 0u);
    // A ping interval's ticks keep the deadline too.
    start([](LobbyConfig& c) { c.limits.loginDeadline = std::chrono::seconds(3); });
    lobby->connected(3);
    lobby->tick();
    send(3, "PINGREPLY");
    now += std::chrono::seconds(3);
    lobby->tick();
    EXPECT_TRUE(out->dropped(3));
}

TEST_F(LobbyTest, MotdOnceAndUserListsAtAFewPerConnection)
{
    login(1, "ann");
    clear();
    send(1, "MOTD");
    send(1, "MOTD");
    EXPECT_EQ(out->take(1).size(), 2u); // the two lines, once
    // A burst of requests in one write gets the few lists a connection may have.
    std::string burst;
    for (int i = 0; i < 5400; ++i)
        burst += std::string("GETUSERLIST") + MsgEnd;
    lobby->bytesReceived(1, burst);
    const auto lists = [&] {
        const Messages got = out->take(1);
        return std::count(got.begin(), got.end(), Message("ENDUSERS"));
    };
    EXPECT_EQ(lists(), 3);
    now += std::chrono::seconds(5);
    lobby->bytesReceived(1, burst);
    EXPECT_EQ(lists(), 1);
    // A new connection's own lists and message of the day.
    login(2, "bob");
    send(2, "GETUSERLIST");
    send(2, "MOTD");
    EXPECT_EQ(lists(), 0);
    const Messages bob = out->take(2);
    EXPECT_EQ(std::count(bob.begin(), bob.end(), Message("ENDUSERS")), 1);
    EXPECT_EQ(bob.back(), msg("MOTDLINE", {""}));
}

TEST_F(LobbyTest, VerifyChallengesAndTheirAnswers)
{
    start([](server::LobbyConfig& c) { c.verifyEveryTicks = 3; });
    const std::string answer = std::to_string(*verifyResponse(Challenge));
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    clear();

    lobby->tick();
    const Message challenge = msg("VERIFY", {std::to_string(Challenge)});
    EXPECT_THAT(out->take(1), ElementsAre("PING", challenge));
    send(1, msg("VERIFY", {answer}));
    send(2, msg("VERIFY", {"1"}));
    EXPECT_TRUE(out->dropped(2, DropKind::Abort));
    EXPECT_THAT(out->take(3), ElementsAre("PING", challenge, user(2, "NONE")));

    EXPECT_THAT(out->take(1), ElementsAre(user(2, "NONE")));

    // No new challenge until the interval comes round again; an unasked answer is harmless.
    send(1, msg("VERIFY", {"5"}));
    for (ConnectionId id : {1, 3})
        send(id, "PINGREPLY");
    lobby->tick();
    EXPECT_THAT(out->take(1), ElementsAre("PING"));
    EXPECT_THAT(out->take(3), ElementsAre("PING"));

    // cid never answered its challenge: dropped at the second tick after it.
    for (ConnectionId id : {1, 3})
        send(id, "PINGREPLY");
    lobby->tick();
    EXPECT_TRUE(out->dropped(3, DropKind::Abort));
    EXPECT_THAT(out->take(1), ElementsAre("PING", user(3, "NONE")));
    send(1, "PINGREPLY");
    lobby->tick();
    EXPECT_THAT(out->take(1), ElementsAre("PING", challenge));
}

TEST_F(LobbyTest, DrawnChallengesAreAnswerable)
{
    start([](LobbyConfig& config) {
        config.verifyEveryTicks = 1;
        config.challenge = {};
    });
    login(1, "ann");
    out->take(1);
    for (int round = 0; round < 300; ++round) {
        lobby->tick();
        const Messages got = out->take(1);
        ASSERT_EQ(got.size(), 2u);
        const auto fields = splitFields(got[1].bytes);
        ASSERT_EQ(fields.size(), 2u);
        const int v = std::stoi(std::string(fields[1]));
        ASSERT_GE(v, MinChallenge);
        ASSERT_LE(v, MaxChallenge);
        send(1, msg("VERIFY", {std::to_string(*verifyResponse(static_cast<std::int16_t>(v)))}));
        send(1, msg("PINGREPLY"));
    }
    EXPECT_TRUE(out->drops.empty());
}

} // namespace
