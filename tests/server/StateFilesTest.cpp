// What the lobby keeps across a restart.

#include "LobbyFixture.h"

#include <filesystem>
#include <fstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

class StateFilesTest : public LobbyFixture {
protected:
    void SetUp() override
    {
        folder =
            std::filesystem::temp_directory_path() /
            ("lobby-state-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::remove_all(folder);
        start();
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    void restart()
    {
        start([this](LobbyConfig& config) { config.stateFolder = folder.string(); });
    }

    std::filesystem::path folder;
};

TEST_F(StateFilesTest, UserListAfterARestartFreesEveryIndexOfTheEarlierRun)
{
    const Message list0 = msg("USER", {"0", "NONE", ""});

    restart();
    for (ConnectionId id = 1; id <= 5; ++id)
        login(id, "u" + std::to_string(id));
    for (ConnectionId id = 1; id <= 4; ++id)
        lobby->disconnected(id);

    // The next run: one user, and a client that kept the five entries of its last visit.
    restart();
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
    restart();
    login(1, "ann");
    send(1, "GETUSERLIST");
    EXPECT_EQ(out->take(1).size(), 2u + 8u + 1u + 1u);

    // Without a folder nothing is kept; an unreadable file is ignored and said so.
    {
        std::ofstream(folder / "highest-index") << "garbage\n";
    }
    restart();
    EXPECT_THAT(out->log, ElementsAre(HasSubstr("unreadable")));
    start();
    login(1, "ann");
    send(1, "GETUSERLIST");
    EXPECT_EQ(out->take(1).size(), 2u + 2u + 1u + 1u);
}

TEST_F(StateFilesTest, BansOutliveARestartAndTheirTimeRunsOnTheWallClock)
{
    restart();
    EXPECT_EQ(lobby->ban(BanKind::Name, "Bob", std::nullopt).notKept, "");
    EXPECT_EQ(lobby->ban(BanKind::Address, "10.1.2.3", std::chrono::hours(1)).notKept, "");

    restart();
    EXPECT_EQ(lobby->bans().size(), 2u);
    login(1, "bob", "10.0.0.1");
    login(2, "ann", "10.1.2.3");
    EXPECT_FALSE(loggedIn(1));
    EXPECT_FALSE(loggedIn(2));
    // An hour later, after another restart, the timed ban is over and only the other holds.
    wallNow += std::chrono::hours(1);
    restart();
    EXPECT_EQ(lobby->bans().size(), 1u);
    login(2, "ann", "10.1.2.3");
    EXPECT_TRUE(loggedIn(2));
}

} // namespace
