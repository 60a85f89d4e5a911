// Who may come in: names, limits per address, a full lobby, bans at log-in.

#include "LobbyFixture.h"
#include "Rules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

class AdmissionTest : public LobbyFixture {};

TEST_F(AdmissionTest, UnusableOrTakenNamesAreRefusedByClosing)
{
    login(1, "Old_Fox");
    clear();
    const std::vector<Message> refused = {
        msg("LOGIN", {"", "ip"}),     msg("LOGIN"),
        msg("LOGIN", {"NONE", "ip"}), msg("LOGIN", {"Old_Fox"}),
        msg("LOGIN", {"Old Fox"}),    msg("LOGIN", {"a\x01", "ip"}),
        msg("LOGIN", {"___"}),        msg("LOGIN", {std::string(MaxNameLength + 1, 'n')}),
    };
    ConnectionId id = 10;
    for (const Message& request : refused) {
        SCOPED_TRACE(request);
        lobby->connected(++id);
        send(id, msg("VERSION", {"1"}));
        send(id, request);
        EXPECT_THAT(out->take(id), ElementsAre(msg("VERSION", {"GOOD"})));
        EXPECT_TRUE(out->dropped(id, DropKind::Close));
    }
    EXPECT_THAT(out->take(1), IsEmpty()); // nobody hears of a refused name
    EXPECT_EQ(lobby->userCount(), 1u);

    // Logging in without the version check first is refused too.
    lobby->connected(30);
    send(30, msg("LOGIN", {"cid"}));
    EXPECT_TRUE(out->dropped(30, DropKind::Close));
}

TEST_F(AdmissionTest, NamesThatPoseAsAnotherOrAsTheLobbyAreRefusedAndLogged)
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

TEST_F(AdmissionTest, MaxUsersRefusesTheOneTooMany)
{
    start([](server::LobbyConfig& c) { c.maxUsers = 2; });
    login(1, "ann");
    login(2, "bob");
    login(3, "cid");
    EXPECT_TRUE(out->dropped(3, DropKind::Close));
    EXPECT_EQ(lobby->userCount(), 2u);
    lobby->disconnected(1);
    login(4, "dan");
    EXPECT_EQ(lobby->userCount(), 2u);
    EXPECT_FALSE(out->dropped(4, DropKind::Close));
}

TEST_F(AdmissionTest, ConnectionsAndLogInsPerAddress)
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

} // namespace
