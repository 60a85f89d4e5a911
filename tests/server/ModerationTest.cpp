// The operator's kick, ban and mute, and what the user concerned is told.

#include "Control.h"
#include "LobbyFixture.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

class ModerationTest : public LobbyFixture {};

TEST_F(ModerationTest, MuteHoldsAcrossLogInsTellsOncePerConnectionAndEnds)
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

TEST_F(ModerationTest, KickAndBansByNameAndAddressTellDropAndLapseOnTheWallClock)
{
    login(1, "ann", "10.0.0.1");
    login(2, "Bob", "10.0.0.2");
    login(3, "cy", "10.0.0.2");
    EXPECT_FALSE(lobby->kick("nobody"));
    const auto kicked = lobby->kick("ANN");
    ASSERT_TRUE(kicked);
    EXPECT_EQ(kicked->name, "ann");
    EXPECT_EQ(kicked->address, "10.0.0.1");
    EXPECT_EQ(out->take(1).back(), notice("You were disconnected by the operator."));
    EXPECT_TRUE(out->dropped(1));
    // Kicked is not banned.
    login(4, "ann", "10.0.0.1");
    EXPECT_TRUE(loggedIn(4));

    // A ban by name for an hour drops the user, told for how long, and holds at log-in
    // under any spelling until the hour is over.
    const auto byName = lobby->ban(BanKind::Name, "bob", std::chrono::hours(1));
    EXPECT_FALSE(byName.full);
    ASSERT_EQ(byName.dropped.size(), 1u);
    EXPECT_EQ(byName.dropped[0].name, "Bob");
    EXPECT_EQ(out->take(2).back(), notice("You are banned from this lobby for 1 hour."));
    EXPECT_TRUE(out->dropped(2));
    login(5, "BOB", "10.0.0.5");
    EXPECT_FALSE(loggedIn(5));
    EXPECT_EQ(out->log.back(), "5 refused: banned name: \"BOB\"");
    wallNow += std::chrono::hours(1);
    login(6, "bob", "10.0.0.5");
    EXPECT_TRUE(loggedIn(6));

    // A ban by address drops everyone there and refuses log-ins from it, under any name, for
    // its time; lifted early, it holds no more.
    const auto byAddress = lobby->ban(BanKind::Address, "10.0.0.2", std::chrono::seconds(1));
    ASSERT_EQ(byAddress.dropped.size(), 1u);
    EXPECT_EQ(byAddress.dropped[0].name, "cy");
    EXPECT_EQ(out->take(3).back(), notice("You are banned from this lobby for 1 second."));
    login(7, "dave", "10.0.0.2");
    EXPECT_FALSE(loggedIn(7));
    EXPECT_EQ(out->log.back(), "7 refused: banned address: \"dave\"");
    wallNow += std::chrono::seconds(1);
    login(8, "dave", "10.0.0.2");
    EXPECT_TRUE(loggedIn(8));
    EXPECT_TRUE(loggedIn(4) && loggedIn(6));

    lobby->ban(BanKind::Name, "eve", std::nullopt);
    EXPECT_EQ(lobby->bans().size(), 1u);
    std::string notKept;
    EXPECT_TRUE(lobby->unban(BanKind::Name, "EVE", notKept));
    EXPECT_EQ(notKept, "no state-dir");
    EXPECT_FALSE(lobby->unban(BanKind::Name, "eve", notKept));
    login(9, "eve", "10.0.0.9");
    EXPECT_TRUE(loggedIn(9));
}

TEST_F(ModerationTest, TheOperatorsToolBansNamesAddressesAndRangesWithReasonsAndSaysWhatIsNotKept)
{
    Control control(*lobby);
    login(1, "ann", "10.1.2.9");
    login(2, "bob", "10.1.3.1");
    login(3, "cy", "2001:db8:1:2::99");
    login(4, "dee", "2001:db8:1:3::1");

    // A range, with a reason the user sent away reads; the next network is not in it.
    EXPECT_EQ(control.execute("ban\t10.1.2.0/24\t-\tspam"),
              "ok: banned address 10.1.2.0/24 until lifted; dropped \"ann\" (10.1.2.9) (this "
              "server keeps no state-dir: until it stops)\n");
    EXPECT_EQ(out->take(1).back(), notice("You are banned from this lobby. Reason: spam"));
    EXPECT_TRUE(loggedIn(2));
    // Coming back from the range, the player reads the reason again before the close.
    login(6, "ann", "10.1.2.200");
    EXPECT_FALSE(loggedIn(6));
    EXPECT_EQ(out->take(6).back(),
              notice("Log-in refused: your address is banned from this lobby. Reason: spam"));
    // One IPv6 address stands for its /64; a /32 is a range, never a name.
    EXPECT_THAT(control.execute("ban-address\t2001:db8:1:2::5\t60"),
                HasSubstr("banned address 2001:db8:1:2::/64 for 60 s; dropped \"cy\""));
    EXPECT_TRUE(loggedIn(4));
    login(5, "eli", "2001:db8:1:2::77");
    EXPECT_FALSE(loggedIn(5));
    EXPECT_THAT(control.execute("ban\t2001:db8::/32"), HasSubstr("address 2001:db8::/32"));
    EXPECT_EQ(control.execute("ban-address\tbob"),
              "error: \"bob\" is not an IPv4 or IPv6 address or range\n");

    // A name that reads as an address is banned by name when asked so; the bare form then
    // refuses to guess.
    EXPECT_THAT(control.execute("ban-name\t10.9.9.9\t-\tposing"),
                HasSubstr("ok: banned name \"10.9.9.9\" until lifted"));
    EXPECT_THAT(control.execute("ban\t10.9.9.9"),
                HasSubstr("error: \"10.9.9.9\" is an address and also the name of a user "
                          "banned: say ban name or ban address"));
    EXPECT_THAT(control.execute("unban\t10.9.9.9"), HasSubstr("say unban name or unban address"));
    EXPECT_EQ(control.execute("bans"), "- address\t10.1.2.0/24\tuntil lifted\tspam\n"
                                       "- address\t2001:db8:1:2::/64\t" +
                                           utcText(wallNow + std::chrono::seconds(60)) +
                                           "\n"
                                           "- address\t2001:db8::/32\tuntil lifted\n"
                                           "- name\t10.9.9.9\tuntil lifted\tposing\n"
                                           "ok: 4 bans\n");
    EXPECT_THAT(control.execute("unban-address\t2001:db8:1:2::1"),
                HasSubstr("ok: lifted the ban on address 2001:db8:1:2::/64"));
    EXPECT_EQ(control.execute("ban\tbob\t-\tbad\x01"),
              "error: the reason holds characters nobody can see\n");
    EXPECT_THAT(control.execute("kick\tbob\tbe kind"), HasSubstr("ok: kicked \"bob\""));
    EXPECT_EQ(out->take(2).back(),
              notice("You were disconnected by the operator. Reason: be kind"));

    // One IPv6 address stands for the network the limits count by.
    start([](LobbyConfig& config) { config.limits.ipv6Prefix = 56; });
    EXPECT_THAT(Control(*lobby).execute("ban-address\t2001:db8:1:2::5"),
                HasSubstr("banned address 2001:db8:1::/56"));

    // A ban the state folder cannot take holds for now, and the tool hears it is not kept.
    const auto folder = std::filesystem::temp_directory_path() /
                        ("stonecall-moderation-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "bans.new"); // in the way of the write
    start([&](LobbyConfig& config) { config.stateFolder = folder.string(); });
    Control kept(*lobby);
    EXPECT_THAT(kept.execute("ban\tbob"),
                HasSubstr("error: banned name \"bob\" until lifted for now, but it is not "
                          "kept across a restart: cannot write"));
    login(6, "bob");
    EXPECT_FALSE(loggedIn(6));
    std::filesystem::remove_all(folder);
}

} // namespace
