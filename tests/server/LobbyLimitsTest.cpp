// What one user or one address may do, what the offender is told and what the operator reads;
// and what the lobby keeps across a restart.

#include "Lobby.h"

#include "wire/Encryptor.h"
#include "wire/Wire.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>

using namespace stonecall;
using namespace stonecall::server;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

using Messages = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

// Log lines as "connection what": the transport, not the lobby, adds the address and name.
struct Recorder : Outbox {
    std::map<ConnectionId, Messages> sent;
    std::vector<std::pair<ConnectionId, DropKind>> drops;
    std::vector<std::string> log;

    void send(ConnectionId to, std::string_view message) override
    {
        sent[to].emplace_back(message);
    }
    void drop(ConnectionId who, DropKind how) override { drops.emplace_back(who, how); }
    void note(ConnectionId who, LogLevel, std::string_view what) override
    {
        log.push_back(who ? std::to_string(who) + " " + std::string(what) : std::string(what));
    }

    Messages take(ConnectionId id) { return std::exchange(sent[id], {}); }
    bool dropped(ConnectionId id) const
    {
        return std::find(drops.begin(), drops.end(), std::pair(id, DropKind::Close)) != drops.end();
    }
};

std::string msg(std::string_view keyword, std::initializer_list<std::string_view> fields = {})
{
    return makeCommand(keyword, fields);
}
std::string notice(std::string_view text)
{
    return msg("PUBMSG", {"*lobby*: ", text});
}
std::string chat(std::string_view name, std::string_view text)
{
    return msg("MSG", {std::string(name) + ": ", EncryptText(text)});
}

class LobbyLimitsTest : public testing::Test {
protected:
    void start(LobbyLimits limits = {}, std::string stateFolder = {})
    {
        LobbyConfig config;
        config.verifyEveryTicks = 0;
        config.limits = std::move(limits);
        config.stateFolder = std::move(stateFolder);
        config.clock = [this] { return now; };
        out = std::make_unique<Recorder>();
        lobby = std::make_unique<Lobby>(config, *out);
    }
    void SetUp() override { start(); }

    void send(ConnectionId id, const std::string& message)
    {
        lobby->bytesReceived(id, message + MsgEnd);
    }
    void login(ConnectionId id, const std::string& name, const std::string& address = "10.0.0.9")
    {
        lobby->connected(id, address);
        send(id, msg("VERSION", {"1"}));
        send(id, msg("LOGIN", {name, address}));
    }
    bool loggedIn(ConnectionId id) const
    {
        const auto& c = lobby->connections();
        auto it = c.find(id);
        return it != c.end() && it->second.phase == Lobby::Phase::LoggedIn;
    }

    Clock::time_point now{std::chrono::hours(1)};
    std::unique_ptr<Recorder> out;
    std::unique_ptr<Lobby> lobby;
};

TEST_F(LobbyLimitsTest, FloodOf500LinesLeavesOthersLogsIntactTellsThenDropsTheFlooder)
{
    login(1, "ann");
    login(2, "bob");
    login(3, "eve", "10.6.6.6");
    out->sent.clear();

    std::string flood;
    for (int i = 0; i < 500; ++i)
        flood += msg("SENDMSG", {EncryptText("spam " + std::to_string(i))}) + MsgEnd;
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

TEST_F(LobbyLimitsTest, NamesThatPoseAsAnotherOrAsTheLobbyAreRefusedAndLogged)
{
    login(1, "Alice");
    out->sent.clear();
    for (const std::string& name :
         std::vector<std::string>{"Alice ", "Alice\xAD", "alice", "ALICE", "_Alice", "Al\xA0ice",
                                  "*lobby*", "Admin", "NONE", std::string(65, 'a')}) {
        SCOPED_TRACE(name);
        out->drops.clear();
        out->log.clear();
        login(9, name, "10.0.0.7");
        EXPECT_TRUE(out->dropped(9));
        ASSERT_EQ(out->log.size(), 1u);
        EXPECT_THAT(out->log[0], testing::StartsWith("9 "));
        EXPECT_THAT(out->log[0], HasSubstr("refused: "));
    }
    EXPECT_EQ(lobby->userCount(), 1u);
    EXPECT_THAT(out->take(1), IsEmpty()); // nobody hears of a refused name
    // The log names the name as it came (the log's writer shows codes as codes).
    out->log.clear();
    login(9, "alice", "10.0.0.7");
    login(10, "Bob\x01", "10.0.0.7");
    EXPECT_THAT(out->log, ElementsAre("9 refused: name in use: \"alice\"",
                                      "10 refused: unusable name: \"Bob\x01\""));

    // A shorter limit and a reserved name of the operator's.
    LobbyLimits limits;
    limits.maxNameLength = 5;
    limits.reservedNames = {"Game Master"};
    start(limits);
    login(1, "sixsix");
    login(2, "game_master");
    login(3, "five5");
    EXPECT_FALSE(loggedIn(1));
    EXPECT_FALSE(loggedIn(2));
    EXPECT_TRUE(loggedIn(3));
}

TEST_F(LobbyLimitsTest, ConnectionsAndLogInsPerAddress)
{
    LobbyLimits limits;
    limits.connectionsPerAddress = 3;
    limits.loginsPerAddressPerMinute = 4;
    start(limits);

    for (ConnectionId id = 1; id <= 4; ++id)
        lobby->connected(id, "10.1.1.1");
    EXPECT_EQ(lobby->connectionCount(), 3u);
    EXPECT_TRUE(out->dropped(4));
    EXPECT_THAT(out->log, ElementsAre("4 refused: too many connections from this address"));
    // Others, and local tools, are not held to it.
    for (ConnectionId id = 5; id <= 12; ++id)
        lobby->connected(id, id <= 8 ? "10.2.2.2" : "127.0.0.1");
    EXPECT_EQ(lobby->connectionCount(), 3u + 3u + 4u);
    // One gone makes room for one.
    lobby->disconnected(1);
    lobby->connected(13, "10.1.1.1");
    EXPECT_EQ(lobby->connections().count(13), 1u);

    // Log-ins per minute: each try counts, whether it stays or not.
    start(limits);
    for (int i = 1; i <= 4; ++i) {
        login(i, "u" + std::to_string(i), "10.3.3.3");
        lobby->disconnected(i);
    }
    login(5, "u5", "10.3.3.3");
    EXPECT_FALSE(loggedIn(5));
    EXPECT_THAT(out->log.back(), "5 refused: too many log-ins from this address: \"u5\"");
    login(6, "u6", "10.4.4.4");
    EXPECT_TRUE(loggedIn(6));
    now += std::chrono::seconds(61);
    lobby->tick();
    login(7, "u7", "10.3.3.3");
    EXPECT_TRUE(loggedIn(7));
}

TEST_F(LobbyLimitsTest, OperatorNoticeReachesEveryUserAsOneLobbyLine)
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

TEST_F(LobbyLimitsTest, MuteHoldsAcrossLogInsTellsOncePerConnectionAndEnds)
{
    login(1, "ann");
    login(2, "bob");
    ASSERT_TRUE(lobby->mute("BOB", std::chrono::seconds(60)));
    EXPECT_THAT(out->take(2),
                testing::Contains(notice("You are muted by the operator for 1 "
                                         "minute: your chat lines are not relayed.")));
    // Coming back does not lift it; the new connection is told at its first line only.
    lobby->disconnected(2);
    login(3, "bob");
    out->sent.clear();
    send(3, msg("SENDMSG", {EncryptText("one")}));
    send(3, msg("SENDMSG", {EncryptText("two")}));
    EXPECT_THAT(
        out->take(3),
        ElementsAre(notice("You are muted by the operator: your chat lines are not relayed.")));
    EXPECT_THAT(out->take(1), IsEmpty());
    now += std::chrono::seconds(60);
    send(3, msg("SENDMSG", {EncryptText("free")}));
    EXPECT_THAT(out->take(1), ElementsAre(chat("bob", "free")));
}

TEST_F(LobbyLimitsTest, UserListAfterARestartFreesEveryIndexOfTheEarlierRun)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("lobby-state-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::remove_all(folder);
    const std::string list0 = msg("USER", {"0", "NONE", ""});

    start({}, folder.string());
    for (ConnectionId id = 1; id <= 5; ++id)
        login(id, "u" + std::to_string(id));
    for (ConnectionId id = 1; id <= 4; ++id)
        lobby->disconnected(id);

    // The next run: one user, and a client that kept the five entries of its last visit.
    start({}, folder.string());
    login(1, "ann");
    send(1, "GETUSERLIST");
    EXPECT_THAT(out->take(1),
                ElementsAre(msg("VERSION", {"GOOD"}), msg("LOGIN", {"1"}), list0,
                            msg("USER", {"1", "ann", ""}), msg("USER", {"2", "NONE", ""}),
                            msg("USER", {"3", "NONE", ""}), msg("USER", {"4", "NONE", ""}),
                            msg("USER", {"5", "NONE", ""}), msg("USERSTATE", {"1", "IDLE"}),
                            "ENDUSERS"));

    // A run that goes further raises the mark for the one after it.
    for (ConnectionId id = 2; id <= 7; ++id)
        login(id, "v" + std::to_string(id));
    start({}, folder.string());
    login(1, "ann");
    send(1, "GETUSERLIST");
    EXPECT_EQ(out->take(1).size(), 2u + 8u + 1u + 1u);

    // Without a folder nothing is kept; an unreadable file is ignored and said so.
    {
        std::ofstream(folder / "highest-index") << "garbage\n";
    }
    start({}, folder.string());
    EXPECT_THAT(out->log, ElementsAre(HasSubstr("unreadable")));
    start();
    login(1, "ann");
    send(1, "GETUSERLIST");
    EXPECT_EQ(out->take(1).size(), 2u + 2u + 1u + 1u);
    std::filesystem::remove_all(folder);
}

} // namespace
