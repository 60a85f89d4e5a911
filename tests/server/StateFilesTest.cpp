// What the lobby keeps across a restart.

#include "LobbyFixture.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/stat.h>
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

    std::vector<std::string> notes() const
    {
        std::vector<std::string> texts;
        for (const auto& note : lobby->stateReport().notes)
            texts.push_back(note.text);
        return texts;
    }
    std::string bansFile() const
    {
        std::ifstream in(folder / "bans", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
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
    EXPECT_THAT(notes(), testing::Contains(HasSubstr("ignoring highest-index")));
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

TEST_F(StateFilesTest, AStateFileThatIsThereButCannotBeReadStopsTheLobbyAndIsNeverWrittenOver)
{
    // Whatever stands in the way, the lobby names the file and writes nothing over it. A
    // folder and a link loop stop root as well as anyone; a file without read permission
    // stops only others.
    const auto check = [&](const std::string& file, const std::string& why) {
        SCOPED_TRACE(file + ": " + why);
        restart();
        ASSERT_TRUE(lobby->stateReport().error);
        EXPECT_THAT(*lobby->stateReport().error, HasSubstr((folder / file).string()));
        EXPECT_THAT(*lobby->stateReport().error, HasSubstr(why));
        EXPECT_THAT(lobby->ban(BanKind::Name, "Bob", std::nullopt).notKept,
                    HasSubstr("not read at start"));
        for (ConnectionId id = 1; id <= 3; ++id)
            login(id, "u" + std::to_string(id));
        if (file != "highest-index") {
            EXPECT_FALSE(std::filesystem::exists(folder / "highest-index"));
        }
        std::filesystem::remove_all(folder);
    };
    std::filesystem::create_directories(folder / "bans");
    check("bans", strerror(EISDIR));
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("bans", folder / "bans");
    check("bans", strerror(ELOOP));
    std::filesystem::create_directories(folder);
    ASSERT_EQ(mkfifo((folder / "bans").c_str(), 0600), 0); // read without blocking
    check("bans", "a FIFO");
    std::filesystem::create_directories(folder / "highest-index");
    check("highest-index", strerror(EISDIR));
    if (geteuid() != 0) {
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "bans") << "name - Bob\n";
        std::filesystem::permissions(folder / "bans", std::filesystem::perms::none);
        check("bans", strerror(EACCES));
    }
}

TEST_F(StateFilesTest, LinesThatAreNoBanAreSaidOnceAndKeptAsideAtTheFirstChange)
{
    std::filesystem::create_directories(folder);
    const std::string earlier = "# a comment\n"
                                "name - Ann\n"
                                "address - 10.1.2.3\tspam\r\n" // an editor's line end
                                "\x01\x02\xff\xfe garbage\n" +
                                std::string(1000, 'x') + "\n" + "name - " + std::string(65, 'n') +
                                "\n" + "name 99 Old\n" + // lapsed
                                "shout - Carl\n" + "name soon Dan\n" +
                                "name - \x01"
                                "bad\n" +
                                "address - 10.9.9.9\tbad\x02"
                                "reason\n" +
                                "name -\n" + "name - Eve";
    std::ofstream(folder / "bans", std::ios::binary) << earlier;
    restart();
    EXPECT_FALSE(lobby->stateReport().error);
    ASSERT_EQ(notes().size(), 1u);
    const std::string note = notes()[0];
    EXPECT_THAT(note, HasSubstr("3 bans loaded, 8 lines ignored: line 4: not kind, end and "
                                "target; line 5: longer than 512 bytes; line 6: a name nobody"));
    EXPECT_THAT(note, HasSubstr("and 3 more"));
    EXPECT_LT(note.size(), 600u);
    const auto bans = lobby->bans();
    ASSERT_EQ(bans.size(), 3u);
    EXPECT_EQ(bans[0].target, "10.1.2.3");
    EXPECT_EQ(bans[0].reason, "spam");
    login(1, "eve");
    EXPECT_FALSE(loggedIn(1));

    // The first change writes the list and keeps the earlier file whole beside it.
    EXPECT_EQ(lobby->ban(BanKind::Name, "Fay", std::nullopt, "rude").notKept, "");
    std::ifstream kept(folder / "bans.earlier", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), earlier);
    EXPECT_THAT(bansFile(), HasSubstr("name - Fay\trude\n"));
    restart();
    EXPECT_THAT(notes(), ElementsAre("state: 4 bans loaded"));
    EXPECT_EQ(lobby->bans().size(), 4u);
}

TEST_F(StateFilesTest, MoreBansThanTheListKeepsStopTheLobbyAndAFullListRefusesTheNext)
{
    std::filesystem::create_directories(folder);
    {
        std::ofstream out(folder / "bans");
        for (std::size_t i = 0; i <= BanList::MaxBans; ++i)
            out << "name - u" << i << "\n";
    }
    const std::string before = bansFile();
    restart();
    ASSERT_TRUE(lobby->stateReport().error);
    EXPECT_THAT(*lobby->stateReport().error, HasSubstr("more than the 10000 bans"));
    lobby->ban(BanKind::Name, "one", std::nullopt);
    EXPECT_EQ(bansFile(), before);

    // With the list full, the next ban is refused and said; the file keeps every one.
    std::filesystem::remove(folder / "bans");
    {
        std::ofstream out(folder / "bans");
        for (std::size_t i = 0; i < BanList::MaxBans; ++i)
            out << "name - u" << i << "\n";
    }
    restart();
    ASSERT_FALSE(lobby->stateReport().error);
    out->log.clear();
    EXPECT_TRUE(lobby->ban(BanKind::Name, "one", std::nullopt).full);
    EXPECT_THAT(out->log, ElementsAre(HasSubstr("refused: the list holds 10000 bans")));
    EXPECT_FALSE(lobby->ban(BanKind::Name, "u7", std::chrono::hours(1)).full); // a change
    restart();
    EXPECT_EQ(lobby->bans().size(), BanList::MaxBans);
}

TEST_F(StateFilesTest, OneLobbyAtATimeOnAFolderAndAFolderThatCannotBeWrittenIsSaid)
{
    restart();
    ASSERT_FALSE(lobby->stateReport().error);
    Recorder second;
    LobbyConfig config;
    config.stateFolder = folder.string();
    Lobby other(config, second);
    ASSERT_TRUE(other.stateReport().error);
    EXPECT_THAT(*other.stateReport().error, HasSubstr("another server uses this state folder"));
    EXPECT_THAT(other.ban(BanKind::Name, "Bob", std::nullopt).notKept,
                HasSubstr("not read at start"));
    EXPECT_EQ(bansFile(), "");
    // Once the first is gone, the folder is free.
    lobby.reset();
    Lobby third(config, second);
    EXPECT_FALSE(third.stateReport().error);

    if (geteuid() != 0) {
        std::filesystem::permissions(folder, std::filesystem::perms::owner_read |
                                                 std::filesystem::perms::owner_exec);
        Lobby readOnly(config, second);
        EXPECT_THAT(readOnly.stateReport().notes,
                    testing::Contains(
                        testing::Field(&StateReport::Note::text, HasSubstr("cannot be written"))));
        std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    }
}

} // namespace
