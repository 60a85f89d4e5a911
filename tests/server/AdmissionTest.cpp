// Who may come in: names, limits per address, a full lobby, bans at log-in.

#include "LobbyFixture.h"
#include "Rules.h"
#include "wire/Encryptor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

class AdmissionTest : public LobbyFixture {
protected:
    static Message notice(std::string_view text) { return msg("PUBMSG", {"*lobby*: ", text}); }
    std::uint64_t refused(Refusal why) const
    {
        return lobby->refusals()[static_cast<std::size_t>(why)];
    }
    // Chat lines of `id` that the others heard.
    bool relayed(ConnectionId id, const std::string& line)
    {
        send(id, msg("SENDMSG", {EncryptText(line)}));
        const Messages got = out->take(id);
        return std::find_if(got.begin(), got.end(), [&](const Message& m) {
                   return m.bytes.find(EncryptText(line)) != std::string::npos;
               }) != got.end();
    }
};

constexpr std::string_view Unusable = "Log-in refused: that name cannot be used. Choose another.";

TEST_F(AdmissionTest, UnusableOrTakenNamesAreRefusedWithTheReasonByClosing)
{
    login(1, "Old_Fox");
    clear();
    const std::string inUse = "Log-in refused: that name is in use. Choose another.";
    const std::string address =
        "Log-in refused: a name may not read as a network address. Choose another.";
    const std::vector<std::pair<Message, std::string>> refusals = {
        {msg("LOGIN", {"", "ip"}), std::string(Unusable)},
        {msg("LOGIN"), std::string(Unusable)},
        {msg("LOGIN", {"NONE", "ip"}), std::string(Unusable)},
        {msg("LOGIN", {"Old_Fox"}), inUse},
        {msg("LOGIN", {"Old Fox"}), inUse},
        {msg("LOGIN", {"a\x01", "ip"}), std::string(Unusable)},
        {msg("LOGIN", {"___"}), std::string(Unusable)},
        {msg("LOGIN", {std::string(MaxNameLength + 1, 'n')}), std::string(Unusable)},
        // Names the operator's tools would take for an address or a range.
        {msg("LOGIN", {"127.77.0.5"}), address},
        {msg("LOGIN", {"::1"}), address},
        {msg("LOGIN", {"::ffff:1.2.3.4"}), address},
        {msg("LOGIN", {"2001:db8::/32"}), address},
        {msg("LOGIN", {"203.0.113.0/24"}), address},
    };
    ConnectionId id = 10;
    for (const auto& [request, reason] : refusals) {
        SCOPED_TRACE(request);
        lobby->connected(++id);
        send(id, msg("VERSION", {"1"}));
        send(id, request);
        EXPECT_THAT(out->take(id), ElementsAre(msg("VERSION", {"GOOD"}), notice(reason)));
        EXPECT_TRUE(out->dropped(id, DropKind::Close));
    }
    EXPECT_EQ(refused(Refusal::NameInUse), 2u);
    EXPECT_EQ(refused(Refusal::UnusableName), refusals.size() - 2);

    EXPECT_THAT(out->take(1), IsEmpty()); // nobody hears of a refused name
    EXPECT_EQ(lobby->userCount(), 1u);
    login(40, "10.0.0.1x"); // an address in a name is fine
    EXPECT_TRUE(loggedIn(40));

    // Logging in without the version check first is refused too.
    lobby->connected(30);
    send(30, msg("LOGIN", {"cid"}));
    EXPECT_TRUE(out->dropped(30, DropKind::Close));
}

TEST_F(AdmissionTest, NamesThatPoseAsAnotherOrAsTheLobbyAreRefusedAndLogged)
{
    login(1, "Alice");
    out->sent.clear();
    int from = 0;
    for (const std::string& name :
         std::vector<std::string>{"Alice ", "Alice\xAD", "alice", "ALICE", "_Alice", "Al\xA0ice",
                                  "*lobby*", "Admin", "NONE", std::string(65, 'a')}) {
        SCOPED_TRACE(name);
        out->drops.clear();
        out->log.clear();
        login(9, name, "10.0.0." + std::to_string(++from));
        EXPECT_TRUE(out->dropped(9));
        ASSERT_EQ(out->log.size(), 1u);
        EXPECT_THAT(out->log[0], testing::StartsWith("9 "));
        EXPECT_THAT(out->log[0], HasSubstr("refused: "));
    }
    EXPECT_EQ(lobby->userCount(), 1u);
    EXPECT_THAT(out->take(1), IsEmpty()); // nobody hears of a refused name
    // The log names the name as it came (the log's writer shows codes as codes).
    out->log.clear();
    login(9, "alice", "10.0.1.7");
    login(10, "Bob\x01", "10.0.1.8");
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
    EXPECT_EQ(out->take(3).back(), notice("Log-in refused: the lobby is full. Try again later."));
    EXPECT_EQ(refused(Refusal::LobbyFull), 1u);
    EXPECT_EQ(lobby->userCount(), 2u);
    lobby->disconnected(1);
    login(4, "dan");
    EXPECT_EQ(lobby->userCount(), 2u);
    EXPECT_FALSE(out->dropped(4, DropKind::Close));
}

TEST_F(AdmissionTest, ConnectionsAndLogInsCountPerAddressAndIPv6PerNetwork)
{
    LobbyLimits limits;
    limits.connectionsPerAddress = 3;
    limits.pendingPerAddress = 0;
    limits.loginsPerAddressPerMinute = 4;
    start(limits);

    // One /64 is one address, however its peers pick their last 64 bits.
    for (ConnectionId id = 1; id <= 4; ++id)
        lobby->connected(id, "2001:db8:0:7:" + std::to_string(id) + "::1");
    EXPECT_EQ(lobby->connectionCount(), 3u);
    EXPECT_TRUE(out->dropped(4));
    EXPECT_THAT(out->take(4),
                ElementsAre(notice("Connection refused: too many connections from your address.")));
    EXPECT_THAT(out->log, ElementsAre("4 refused: too many connections from this address"));
    EXPECT_EQ(refused(Refusal::TooManyConnections), 1u);
    // The next /64, IPv4 addresses each on their own, and local tools are not held to it.
    for (ConnectionId id = 5; id <= 14; ++id)
        lobby->connected(id, id <= 7    ? "2001:db8:0:8::" + std::to_string(id)
                             : id <= 10 ? "10.2.2." + std::to_string(id)
                                        : "127.0.0." + std::to_string(id % 2));
    EXPECT_EQ(lobby->connectionCount(), 3u + 3u + 3u + 4u);
    // One gone makes room for one.
    lobby->disconnected(1);
    lobby->connected(15, "2001:db8:0:7::abcd");
    EXPECT_EQ(lobby->connections().count(15), 1u);

    // Log-ins per minute: each try counts, whether it stays or not, by /64 too.
    start(limits);
    for (int i = 1; i <= 4; ++i) {
        login(i, "u" + std::to_string(i), "2001:db8:0:9::" + std::to_string(i));
        lobby->disconnected(i);
    }
    login(5, "u5", "2001:db8:0:9:ffff::5");
    EXPECT_FALSE(loggedIn(5));
    EXPECT_THAT(out->log.back(), "5 refused: too many log-ins from this address: \"u5\"");
    EXPECT_EQ(out->take(5).back(), notice("Log-in refused: too many log-ins from your address. "
                                          "Try again in a minute."));
    login(6, "u6", "2001:db8:0:a::1");
    EXPECT_TRUE(loggedIn(6));
    now += std::chrono::seconds(61);
    lobby->sweep();
    login(7, "u7", "2001:db8:0:9::7");
    EXPECT_TRUE(loggedIn(7));

    // The prefix is the operator's; at 128 each IPv6 address counts alone.
    limits.ipv6Prefix = 128;
    start(limits);
    for (ConnectionId id = 1; id <= 4; ++id)
        lobby->connected(id, "2001:db8::" + std::to_string(id));
    EXPECT_EQ(lobby->connectionCount(), 4u);

    // Behind a local proxy every peer is loopback: the operator can hold them to the limits.
    limits.limitLoopback = true;
    start(limits);
    for (ConnectionId id = 1; id <= 4; ++id)
        lobby->connected(id, id % 2 ? "127.0.0.1" : "::ffff:127.0.0.1");
    EXPECT_EQ(lobby->connectionCount(), 3u);
}

TEST_F(AdmissionTest, ChatAllowanceBelongsToTheNameAndTheAddressAcrossLogIns)
{
    LobbyLimits limits;
    limits.chatLinesPerSecond = 1;
    limits.chatBurst = 3;
    start(limits);
    login(1, "ann", "10.0.0.1");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(relayed(1, "a" + std::to_string(i)));
    EXPECT_FALSE(relayed(1, "over"));
    // Leaving and coming back brings no fresh burst, under the same name or another one.
    lobby->disconnected(1);
    login(2, "ann", "10.0.0.2");
    EXPECT_FALSE(relayed(2, "back"));
    login(3, "bob", "10.0.0.1");
    EXPECT_FALSE(relayed(3, "other name"));
    // Two names at once from one /64 share one allowance; the next /64 has its own.
    login(4, "cid", "2001:db8::1");
    login(5, "dan", "2001:db8::2");
    login(6, "eve", "2001:db8:0:1::1");
    EXPECT_TRUE(relayed(4, "c1"));
    EXPECT_TRUE(relayed(5, "d1"));
    EXPECT_TRUE(relayed(4, "c2"));
    EXPECT_FALSE(relayed(5, "d2"));
    EXPECT_TRUE(relayed(6, "e1"));
    // Loopback peers are held by name only, unless the operator says otherwise.
    login(7, "fay", "127.0.0.1");
    login(8, "gus", "127.0.0.1");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(relayed(7, "f" + std::to_string(i)));
    EXPECT_TRUE(relayed(8, "g"));
    // Time brings the tokens back.
    now += std::chrono::seconds(1);
    EXPECT_TRUE(relayed(3, "later"));
    EXPECT_FALSE(relayed(3, "again"));
    EXPECT_TRUE(relayed(2, "later"));

    // Allowances of users gone are forgotten once full again.
    for (ConnectionId id = 2; id <= 8; ++id)
        lobby->disconnected(id);
    lobby->sweep();
    EXPECT_GT(lobby->allowanceCount(), 0u);
    now += std::chrono::seconds(3);
    lobby->sweep();
    EXPECT_EQ(lobby->allowanceCount(), 0u);

    limits.limitLoopback = true;
    start(limits);
    login(1, "fay", "127.0.0.1");
    login(2, "gus", "127.0.0.1");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(relayed(1, "f" + std::to_string(i)));
    EXPECT_FALSE(relayed(2, "g"));
}

TEST_F(AdmissionTest, AllowancesOfUsersGoneAreBounded)
{
    LobbyLimits limits;
    limits.loginsPerAddressPerMinute = 0;
    start(limits);
    // Each leaves with a spent token under a name and an address of its own.
    for (ConnectionId id = 1; id <= 5000; ++id) {
        const std::string n = std::to_string(id);
        login(id, "u" + n, "10.1." + std::to_string(id / 250) + "." + std::to_string(id % 250));
        ASSERT_TRUE(relayed(id, "x"));
        lobby->disconnected(id);
    }
    lobby->sweep();
    EXPECT_LE(lobby->allowanceCount(), 4096u);
    EXPECT_GT(lobby->allowanceCount(), 4000u);
}

TEST_F(AdmissionTest, RefusalsFromOneAddressAreLoggedOnceAMinuteAndNamesCut)
{
    LobbyLimits limits;
    limits.loginsPerAddressPerMinute = 0;
    start(limits);
    const std::string junk(4080, '\x01');
    for (ConnectionId id = 1; id <= 100; ++id)
        login(id, junk, "2001:db8::" + std::to_string(id));
    login(101, "NONE", "10.0.0.1");
    ASSERT_EQ(out->log.size(), 2u);
    EXPECT_EQ(out->log[0],
              "1 refused: unusable name: \"" + std::string(64, '\x01') + "\" (cut, 4080 bytes)");
    EXPECT_EQ(out->log[1], "101 refused: unusable name: \"NONE\"");
    EXPECT_EQ(refused(Refusal::UnusableName), 101u);
    // Every one was still told why.
    EXPECT_EQ(out->take(100).back(), notice(Unusable));

    now += std::chrono::seconds(59);
    lobby->sweep();
    EXPECT_EQ(out->log.size(), 2u);
    now += std::chrono::seconds(1);
    lobby->sweep();
    EXPECT_THAT(out->log, ElementsAre(testing::_, testing::_,
                                      "refused 99 more from 2001:db8::/64 in the last minute"));
    login(102, junk, "2001:db8::1");
    EXPECT_EQ(out->log.size(), 4u); // a new minute, a new first line

    // Many addresses, each refused once, are told apart up to a bound and summed past it.
    out->log.clear();
    for (ConnectionId id = 200; id < 1300; ++id)
        login(id, "NONE", "10.2." + std::to_string(id / 256) + "." + std::to_string(id % 256));
    EXPECT_LT(out->log.size(), 1100u);
    now += std::chrono::seconds(60);
    lobby->sweep();
    EXPECT_THAT(out->log.back(), HasSubstr("more from other addresses in the last minute"));
}

TEST_F(AdmissionTest, IdleLogInsCannotCrowdOutNewcomers)
{
    LobbyLimits limits;
    limits.pendingPerAddress = 2;
    limits.pendingRoom = 4;
    start([&](LobbyConfig& c) {
        c.limits = limits;
        c.maxUsers = 2;
    });
    login(1, "ann", "10.0.0.1");
    // Two from one address may be logging in at once; a third waits for one of them.
    lobby->connected(2, "10.0.0.2");
    lobby->connected(3, "10.0.0.2");
    lobby->connected(4, "10.0.0.2");
    EXPECT_EQ(out->take(4).back(), notice("Connection refused: too many connections from your "
                                          "address are logging in."));
    send(2, msg("VERSION", {"1"}));
    send(2, msg("LOGIN", {"bob"}));
    lobby->connected(5, "10.0.0.2");
    EXPECT_EQ(lobby->connections().count(5), 1u);
    EXPECT_EQ(lobby->pendingCount(), 2u);

    // The room full (two users and four logging in), the oldest still logging in goes.
    lobby->connected(6, "10.0.0.6");
    lobby->connected(7, "10.0.0.7");
    EXPECT_TRUE(out->drops.size() == 1u); // only the third from 10.0.0.2 so far
    lobby->connected(8, "10.0.0.8");
    EXPECT_TRUE(out->dropped(3));
    EXPECT_EQ(out->take(3).back(),
              notice("Disconnected: the lobby is busy with log-ins. Try again."));
    EXPECT_EQ(lobby->connections().count(8), 1u);
    EXPECT_EQ(lobby->pendingCount(), 4u);
    EXPECT_EQ(lobby->userCount(), 2u);
    lobby->connected(9, "10.0.0.9");
    EXPECT_TRUE(out->dropped(5));
    EXPECT_EQ(refused(Refusal::Crowded), 2u);
    EXPECT_TRUE(loggedIn(1));
    EXPECT_TRUE(loggedIn(2));
}

} // namespace
