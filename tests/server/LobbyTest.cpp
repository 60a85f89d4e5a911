// The lobby's rules at its message boundary: bytes in, messages and drops out.

#include "Lobby.h"
#include "Rules.h"

#include "wire/Encryptor.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

using namespace stonecall;
using namespace stonecall::server;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

using Messages = std::vector<std::string>;

struct RecordingOutbox : Outbox {
    std::map<ConnectionId, Messages> sent;
    std::vector<std::pair<ConnectionId, DropKind>> drops;

    void send(ConnectionId to, std::string_view message) override
    {
        sent[to].emplace_back(message);
    }
    void drop(ConnectionId who, DropKind how) override { drops.emplace_back(who, how); }

    Messages take(ConnectionId id) { return std::exchange(sent[id], {}); }
};

std::string msg(std::string_view keyword, std::initializer_list<std::string_view> fields = {})
{
    return makeCommand(keyword, fields);
}

std::string state(int index, std::string_view word)
{
    return msg("USERSTATE", {std::to_string(index), word});
}
std::string host(int index, int size, std::string_view password = "NONE")
{
    return msg("USERSTATE", {std::to_string(index), "HOST", std::to_string(size), password});
}
std::string member(int index, int hostIndex, int place)
{
    return msg("USERSTATE",
               {std::to_string(index), "CLIENT", std::to_string(hostIndex), std::to_string(place)});
}
std::string user(int index, std::string_view name)
{
    return msg("USER", {std::to_string(index), name, ""});
}
std::string notice(std::string_view text)
{
    return msg("PUBMSG", {"*lobby*: ", text});
}

constexpr std::int16_t Challenge = 100;

class LobbyTest : public testing::Test {
protected:
    void start(int maxUsers = 100, int verifyEveryTicks = 0)
    {
        LobbyConfig config;
        config.maxUsers = maxUsers;
        config.motd = {"Hi", ""};
        config.verifyEveryTicks = verifyEveryTicks;
        config.challenge = [] { return Challenge; };
        lobby = std::make_unique<Lobby>(config, out);
    }
    void SetUp() override { start(); }

    void send(ConnectionId id, const std::string& message)
    {
        lobby->bytesReceived(id, message + MsgEnd);
    }
    // Connects and logs in; the connection id doubles as the expected index in most tests.
    void login(ConnectionId id, const std::string& name)
    {
        lobby->connected(id);
        send(id, msg("VERSION", {"1"}));
        send(id, msg("LOGIN", {name, "10.0.0.9"}));
    }
    void clear() { out.sent.clear(); }
    bool dropped(ConnectionId id, DropKind how) const
    {
        return std::find(out.drops.begin(), out.drops.end(), std::pair(id, how)) != out.drops.end();
    }

    RecordingOutbox out;
    std::unique_ptr<Lobby> lobby;
};

TEST_F(LobbyTest, LogInConversationInTheOrderClientsExpect)
{
    lobby->connected(1);
    send(1, msg("VERSION", {"1"}));
    send(1, msg("LOGIN", {"ann", "10.0.0.1"}));
    send(1, "GETUSERLIST");
    send(1, "MOTD");
    EXPECT_THAT(out.take(1),
                ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"1"}), user(0, "NONE"),
                            user(1, "ann"), state(1, "IDLE"), "ENDUSERS",
                            msg("MOTDLINE", {EncryptText("Hi")}), msg("MOTDLINE", {""})));

    // A newcomer is announced to the others, not to itself.
    login(2, "bob");
    EXPECT_THAT(out.take(2), ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"2"})));
    EXPECT_THAT(out.take(1), ElementsAre(user(2, "bob"), state(2, "IDLE")));
    EXPECT_EQ(lobby->userCount(), 2u);
    EXPECT_THAT(out.drops, IsEmpty());
}

TEST_F(LobbyTest, OtherVersionsAreAnsweredThenClosed)
{
    for (const std::string& version : {msg("VERSION", {"2"}), msg("VERSION", {""}),
                                       std::string("VERSION"), msg("VERSION", {" 1"})}) {
        SCOPED_TRACE(version);
        out.sent.clear();
        out.drops.clear();
        lobby->connected(7);
        send(7, version);
        EXPECT_THAT(out.take(7), ElementsAre(msg("VERSION", {"BAD"})));
        EXPECT_TRUE(dropped(7, DropKind::Close));
        EXPECT_EQ(lobby->connectionCount(), 0u);
    }
    // Keywords are exact: a lower-case one is ignored.
    lobby->connected(8);
    send(8, msg("version", {"1"}));
    EXPECT_THAT(out.take(8), IsEmpty());
}

TEST_F(LobbyTest, UnusableOrTakenNamesAreRefusedByClosing)
{
    login(1, "Old_Fox");
    clear();
    const std::vector<std::string> refused = {
        msg("LOGIN", {"", "ip"}),     msg("LOGIN"),
        msg("LOGIN", {"NONE", "ip"}), msg("LOGIN", {"Old_Fox"}),
        msg("LOGIN", {"Old Fox"}),    msg("LOGIN", {"a\x01", "ip"}),
        msg("LOGIN", {"___"}),        msg("LOGIN", {std::string(MaxNameLength + 1, 'n')}),
    };
    ConnectionId id = 10;
    for (const std::string& request : refused) {
        SCOPED_TRACE(request);
        lobby->connected(++id);
        send(id, msg("VERSION", {"1"}));
        send(id, request);
        EXPECT_THAT(out.take(id), ElementsAre(msg("VERSION", {"GOOD"})));
        EXPECT_TRUE(dropped(id, DropKind::Close));
    }
    EXPECT_THAT(out.take(1), IsEmpty()); // nobody hears of a refused name
    EXPECT_EQ(lobby->userCount(), 1u);

    // Logging in without the version check first is refused too.
    lobby->connected(30);
    send(30, msg("LOGIN", {"cid"}));
    EXPECT_TRUE(dropped(30, DropKind::Close));
}

TEST_F(LobbyTest, LowestFreeIndexIsReusedAndListsCoverEveryIndexHandedOut)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    clear();
    lobby->disconnected(2);
    EXPECT_THAT(out.take(1), ElementsAre(user(2, "NONE")));
    EXPECT_THAT(out.take(3), ElementsAre(user(2, "NONE")));
    EXPECT_THAT(out.take(2), IsEmpty());

    login(4, "dan");
    EXPECT_THAT(out.take(4), ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"2"})));

    // With the highest index free, a list still names it free for clients that knew it.
    send(3, "LOGOUT");
    EXPECT_TRUE(dropped(3, DropKind::Close));
    clear();
    send(1, "GETUSERLIST");
    EXPECT_THAT(out.take(1),
                ElementsAre(user(0, "NONE"), user(1, "ann"), user(2, "dan"), user(3, "NONE"),
                            state(1, "IDLE"), state(2, "IDLE"), "ENDUSERS"));
}

TEST_F(LobbyTest, MaxUsersRefusesTheOneTooMany)
{
    start(2);
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    EXPECT_TRUE(dropped(3, DropKind::Close));
    EXPECT_EQ(lobby->userCount(), 2u);
    lobby->disconnected(1);
    login(4, "dan");
    EXPECT_EQ(lobby->userCount(), 2u);
    EXPECT_FALSE(dropped(4, DropKind::Close));
}

TEST_F(LobbyTest, RequestsBeforeLogInAndRepeatedHandshakesAreIgnored)
{
    lobby->connected(1);
    send(1, "GETUSERLIST");
    send(1, "MOTD");
    send(1, msg("SENDMSG", {EncryptText("hi")}));
    send(1, msg("BEHOST", {"2", "NONE"}));
    send(1, "LOGOUT");
    EXPECT_THAT(out.take(1), IsEmpty());
    EXPECT_EQ(lobby->connectionCount(), 1u);

    login(2, "ann");
    clear();
    send(2, msg("VERSION", {"1"}));
    send(2, msg("LOGIN", {"other", "ip"}));
    send(2, "");
    send(2, "NOSUCHWORD");
    EXPECT_THAT(out.take(2), IsEmpty());
    EXPECT_EQ(lobby->userCount(), 1u);
}

TEST_F(LobbyTest, ChatGoesToEveryoneWithTheSendersName)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    send(2, msg("SENDMSG", {EncryptText("hello")}));
    const std::string line = msg("MSG", {"bob: ", EncryptText("hello")});
    EXPECT_THAT(out.take(1), ElementsAre(line));
    EXPECT_THAT(out.take(2), ElementsAre(line));

    // Too long: cut, and the sender told so.
    const std::string longText(600, 'z');
    clear();
    send(1, msg("SENDMSG", {EncryptText(longText)}));
    const std::string cut = msg("MSG", {"ann: ", EncryptText(longText.substr(0, 512))});
    EXPECT_THAT(out.take(2), ElementsAre(cut));
    EXPECT_THAT(out.take(1), ElementsAre(notice("Your line was too long: only its first 512 "
                                                "characters were sent."),
                                         cut));

    send(1, "SENDMSG");
    send(1, msg("SENDMSG", {"XYZ"}));
    EXPECT_THAT(out.take(2), IsEmpty());
    // A line break cannot start a line of its own, nor can a wrap of blanks or a form feed.
    send(1, msg("SENDMSG", {EncryptText("two\r\nlines")}));
    send(1, msg("SENDMSG", {EncryptText("hi" + std::string(120, ' ') + "bob: my pw is x\f")}));
    EXPECT_THAT(out.take(2),
                ElementsAre(msg("MSG", {"ann: ", EncryptText("two lines")}),
                            msg("MSG", {"ann: ", EncryptText("hi bob: my pw is x ")})));
}

TEST_F(LobbyTest, HostingAHut)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    clear();
    send(1, msg("BEHOST", {"3", "NONE"}));
    EXPECT_THAT(out.take(2), ElementsAre(host(1, 3)));
    EXPECT_THAT(out.take(1), ElementsAre(host(1, 3)));

    send(2, msg("BEHOST", {"4", ""})); // an empty password is an open hut
    send(3, msg("BEHOST", {"2", "Secret"}));
    EXPECT_THAT(out.take(1), ElementsAre(host(2, 4), host(3, 2, "Secret")));

    // Refused: a host asking again, player counts out of range, an overlong password.
    send(1, msg("BEHOST", {"2", "NONE"}));
    login(4, "dan");
    clear();
    for (const char* count : {"1", "5", "x", "", "2.5e9"})
        send(4, msg("BEHOST", {count, "NONE"}));
    send(4, "BEHOST");
    EXPECT_THAT(out.take(4), IsEmpty());
    // A password the lobby will not pass on: the asker hears why, and its state resets the
    // buttons it changed while waiting; nobody else hears anything.
    send(4, msg("BEHOST", {"2", std::string(MaxPasswordLength + 1, 'p')}));
    send(4, msg("BEHOST", {"3", "\x01"}));
    send(4, msg("BEHOST", {"3", "pw "}));
    const std::string unusable = notice("Hut not opened: the password holds blanks at its ends "
                                        "or characters that cannot be sent.");
    EXPECT_THAT(out.take(4),
                ElementsAre(notice("Hut not opened: the password is longer than 64 characters."),
                            state(4, "IDLE"), unusable, state(4, "IDLE"), unusable,
                            state(4, "IDLE")));
    EXPECT_THAT(out.take(1), IsEmpty());

    send(4, "BEHOST\xA4"
            "2"); // no password field at all
    EXPECT_THAT(out.take(1), ElementsAre(host(4, 2)));
}

TEST_F(LobbyTest, JoiningTakesTheAskedOrFirstFreePlaceAndTellsWhyNot)
{
    for (ConnectionId id = 1; id <= 6; ++id)
        login(id, "u" + std::to_string(id));
    send(1, msg("BEHOST", {"4", "pw"}));
    send(6, msg("BEHOST", {"2", "NONE"}));
    clear();

    send(2, msg("BECLIENT", {"1", "2"})); // the place asked for
    send(3, msg("BECLIENT", {"1", ""}));  // open choice: the first free
    send(4, msg("BECLIENT", {"1", "2"})); // taken meanwhile: the first free
    EXPECT_THAT(out.take(5), ElementsAre(member(2, 1, 2), member(3, 1, 1), member(4, 1, 3)));
    clear();

    // Full or not a hut: the asker is told, and its buttons reset by its own state.
    send(5, msg("BECLIENT", {"1", ""})); // full
    send(5, msg("BECLIENT", {"2", ""})); // not a host
    EXPECT_THAT(out.take(5),
                ElementsAre(notice("Hut not joined: it is full."), state(5, "IDLE"),
                            notice("Hut not joined: it is no longer open."), state(5, "IDLE")));
    EXPECT_THAT(out.take(1), IsEmpty());
    // What no client asks for is ignored.
    send(5, msg("BECLIENT", {"9", ""})); // nobody
    send(5, msg("BECLIENT", {"0", ""}));
    send(5, msg("BECLIENT", {"x", ""}));
    send(5, "BECLIENT");
    send(6, msg("BECLIENT", {"6", ""})); // own hut
    send(6, msg("BECLIENT", {"1", ""})); // a host is not idle
    send(2, msg("BECLIENT", {"6", ""})); // already in a hut
    EXPECT_THAT(out.take(5), IsEmpty());

    // A place given up is free for the next one.
    clear();
    send(3, "BEIDLE");
    send(5, msg("BECLIENT", {"1", "4"})); // places of a 4-player hut are 1 to 3
    EXPECT_THAT(out.take(6), ElementsAre(state(3, "IDLE"), member(5, 1, 1)));
}

TEST_F(LobbyTest, HostGoingIdleOrLeavingReturnsItsMembersFirst)
{
    for (ConnectionId id = 1; id <= 4; ++id)
        login(id, "u" + std::to_string(id));
    send(1, msg("BEHOST", {"3", "NONE"}));
    send(2, msg("BECLIENT", {"1", ""}));
    send(3, msg("BECLIENT", {"1", ""}));
    clear();
    send(1, "BEIDLE");
    EXPECT_THAT(out.take(4), ElementsAre(state(2, "IDLE"), state(3, "IDLE"), state(1, "IDLE")));

    // The members are free to join again; then the host's connection is lost.
    send(1, msg("BEHOST", {"3", "NONE"}));
    send(2, msg("BECLIENT", {"1", ""}));
    clear();
    lobby->disconnected(1);
    EXPECT_THAT(out.take(4), ElementsAre(state(2, "IDLE"), state(1, "IDLE"), user(1, "NONE")));
    EXPECT_THAT(out.take(1), IsEmpty());

    // A member that leaves clears its place with a state change before its entry goes.
    send(4, msg("BEHOST", {"2", "NONE"}));
    send(3, msg("BECLIENT", {"4", ""}));
    clear();
    lobby->disconnected(3);
    EXPECT_THAT(out.take(4), ElementsAre(state(3, "IDLE"), user(3, "NONE")));
    send(2, msg("BECLIENT", {"4", ""}));
    EXPECT_THAT(out.take(4), ElementsAre(member(2, 4, 1)));
}

TEST_F(LobbyTest, MemberAskingForAHutLeavesTheOneItIsIn)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    send(1, msg("BEHOST", {"2", "NONE"}));
    send(2, msg("BECLIENT", {"1", ""}));
    clear();
    send(2, msg("BEHOST", {"3", "NONE"}));
    send(3, msg("BECLIENT", {"1", ""}));
    EXPECT_THAT(out.take(1), ElementsAre(host(2, 3), member(3, 1, 1)));
}

TEST_F(LobbyTest, IdleRequestFromAnIdleUserIsAnsweredToItAlone)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    send(1, "BEIDLE");
    EXPECT_THAT(out.take(1), ElementsAre(state(1, "IDLE")));
    EXPECT_THAT(out.take(2), IsEmpty());
}

TEST_F(LobbyTest, LogOutEndsTheConnectionAndWhatFollowsIsIgnored)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    lobby->bytesReceived(1, "LOGOUT\x06SENDMSG\xA4" + EncryptText("late") + "\x06");
    EXPECT_TRUE(dropped(1, DropKind::Close));
    EXPECT_THAT(out.take(2), ElementsAre(user(1, "NONE")));
    EXPECT_THAT(out.take(1), IsEmpty());
    lobby->bytesReceived(1, "GETUSERLIST\x06");
    lobby->disconnected(1);
    EXPECT_THAT(out.take(2), IsEmpty());
}

TEST_F(LobbyTest, MessagesLongerThanFourKibibytesDropTheSender)
{
    login(1, "ann");
    login(2, "bob");
    clear();
    // Exactly the limit is still taken (an unknown keyword, ignored).
    lobby->bytesReceived(1, std::string(MaxMessageLength, 'X') + MsgEnd);
    EXPECT_TRUE(out.drops.empty());

    // One byte more, even before its end arrives, drops the sender.
    lobby->bytesReceived(1, std::string(MaxMessageLength / 2, 'X'));
    lobby->bytesReceived(1, std::string(MaxMessageLength / 2 + 1, 'X'));
    EXPECT_TRUE(dropped(1, DropKind::Abort));
    EXPECT_THAT(out.take(2), ElementsAre(user(1, "NONE")));
}

TEST_F(LobbyTest, MessagesSplitAnywhereActAsOne)
{
    const std::string stream = msg("VERSION", {"1"}) + MsgEnd + MsgEnd +
                               msg("LOGIN", {"ann", "ip"}) + MsgEnd + "GETUSERLIST" + MsgEnd;
    lobby->connected(1);
    lobby->bytesReceived(1, stream);
    const Messages whole = out.take(1);
    ASSERT_EQ(whole.size(), 6u);

    start();
    lobby->connected(1);
    for (char byte : stream)
        lobby->bytesReceived(1, std::string_view(&byte, 1));
    EXPECT_EQ(out.take(1), whole);
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
    EXPECT_THAT(out.take(1), ElementsAre("PING", "PING", "PING", user(2, "NONE"), "PING", "PING"));
    EXPECT_EQ(out.take(2), Messages(2, "PING")); // the third tick drops it
    EXPECT_TRUE(dropped(2, DropKind::Abort));
    EXPECT_EQ(lobby->userCount(), 1u);
}

TEST_F(LobbyTest, ConnectionsThatDoNotLogInAreDropped)
{
    lobby->connected(1);
    send(1, msg("VERSION", {"1"}));
    lobby->tick();
    send(1, "PINGREPLY");
    EXPECT_TRUE(out.drops.empty());
    lobby->tick();
    EXPECT_TRUE(dropped(1, DropKind::Abort));
}

TEST_F(LobbyTest, VerifyChallengesAndTheirAnswers)
{
    start(100, 3);
    const std::string answer = std::to_string(*verifyResponse(Challenge));
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    clear();

    lobby->tick();
    const std::string challenge = msg("VERIFY", {std::to_string(Challenge)});
    EXPECT_THAT(out.take(1), ElementsAre("PING", challenge));
    send(1, msg("VERIFY", {answer}));
    send(2, msg("VERIFY", {"1"}));
    EXPECT_TRUE(dropped(2, DropKind::Abort));
    EXPECT_THAT(out.take(3), ElementsAre("PING", challenge, user(2, "NONE")));

    EXPECT_THAT(out.take(1), ElementsAre(user(2, "NONE")));

    // No new challenge until the interval comes round again; an unasked answer is harmless.
    send(1, msg("VERIFY", {"5"}));
    for (ConnectionId id : {1, 3})
        send(id, "PINGREPLY");
    lobby->tick();
    EXPECT_THAT(out.take(1), ElementsAre("PING"));
    EXPECT_THAT(out.take(3), ElementsAre("PING"));

    // cid never answered its challenge: dropped at the second tick after it.
    for (ConnectionId id : {1, 3})
        send(id, "PINGREPLY");
    lobby->tick();
    EXPECT_TRUE(dropped(3, DropKind::Abort));
    EXPECT_THAT(out.take(1), ElementsAre("PING", user(3, "NONE")));
    send(1, "PINGREPLY");
    lobby->tick();
    EXPECT_THAT(out.take(1), ElementsAre("PING", challenge));
}

TEST(LobbyChallenges, DrawnChallengesAreAnswerable)
{
    RecordingOutbox out;
    LobbyConfig config;
    config.verifyEveryTicks = 1;
    Lobby lobby(config, out);
    lobby.connected(1);
    lobby.bytesReceived(1, msg("VERSION", {"1"}) + MsgEnd + msg("LOGIN", {"ann"}) + MsgEnd);
    out.take(1);
    for (int round = 0; round < 300; ++round) {
        lobby.tick();
        const Messages got = out.take(1);
        ASSERT_EQ(got.size(), 2u);
        const auto fields = splitFields(got[1]);
        ASSERT_EQ(fields.size(), 2u);
        const int v = std::stoi(std::string(fields[1]));
        ASSERT_GE(v, MinChallenge);
        ASSERT_LE(v, MaxChallenge);
        const std::string reply =
            msg("VERIFY", {std::to_string(*verifyResponse(static_cast<std::int16_t>(v)))}) +
            MsgEnd + "PINGREPLY" + MsgEnd;
        lobby.bytesReceived(1, reply);
    }
    EXPECT_TRUE(out.drops.empty());
}

} // namespace
