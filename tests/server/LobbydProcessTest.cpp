// The real stonecall-lobbyd in its own process, with limits set on it from outside, against
// crowds of plain loopback sockets: running out of file descriptors, hostile bursts from
// one user while everyone else reads promptly, its configuration file read at start and
// on SIGHUP, the operator's commands through the real stonecall-lobbyctl, and its end.

#include "LobbydProcess.h"

#include "wire/Encryptor.h"
#include "wire/Wire.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace stonecall;
using namespace stonecall::test;
using Clock = std::chrono::steady_clock;

namespace {

TEST(Lobbyd, OutOfDescriptorsWaitsWithoutSpinningAndAcceptsAgain)
{
    if (Sanitized)
        GTEST_SKIP() << "the vptr check misfires when no descriptor is free";
    Lobbyd server({"--ping-interval", "0", "--max-users", "200"}, 40);
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    std::vector<bool> answered;
    std::size_t answers = 0;
    crowd.onMessage([&](std::size_t i, std::string_view m) {
        if (m == makeCommand("VERSION", {"GOOD"}) && !answered[i]) {
            answered[i] = true;
            ++answers;
        }
    });
    const auto openOne = [&] {
        answered.push_back(false);
        crowd.open(framed(msg("VERSION", {"1"})));
    };
    for (int i = 0; i < 60; ++i)
        openOne();
    // Served until the descriptors run out; the rest wait in the backlog.
    std::size_t settled = 0;
    for (int round = 0; round < 300 && (answers == 0 || answers != settled); ++round) {
        settled = answers;
        crowd.until([] { return false; }, 0);
        const auto until = Clock::now() + std::chrono::milliseconds(300);
        while (Clock::now() < until)
            crowd.pump(10);
    }
    ASSERT_GT(answers, 10u);
    ASSERT_LT(answers, 60u);
    const std::size_t first = answers;

    // Nothing to do but wait: the server must not spin on the failing accept.
    const double before = server.cpuSeconds();
    const auto until = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < until)
        crowd.pump(50);
    EXPECT_LT(server.cpuSeconds() - before, 0.1);
    EXPECT_EQ(answers, first);

    // Each connection that closes lets one that waits in.
    std::size_t closed = 0;
    for (std::size_t i = 0; i < crowd.size() && closed < 10; ++i)
        if (answered[i]) {
            crowd.shut(i);
            ++closed;
        }
    // At once, not at the next retry (seconds away): the server must see the closing.
    EXPECT_TRUE(crowd.until([&] { return answers >= first + 10; }, 3)) << answers - first;

    // Everyone gone: newcomers are served at once, again and again.
    for (std::size_t i = 0; i < crowd.size(); ++i)
        if (!crowd[i].closed)
            crowd.shut(i);
    const std::size_t now = answers;
    for (int i = 0; i < 20; ++i)
        openOne();
    EXPECT_TRUE(crowd.until([&] { return answers == now + 20; }, 10)) << answers - now;
    EXPECT_NE(server.log().find("hard limit 40"), std::string::npos) << server.log();
}

TEST(Lobbyd, EmptyChatBurstDropsNoPromptReaderAndMemoryComesBack)
{
    // The transport alone: the chat rate limit would stop the burst before it is relayed.
    Lobbyd server({"--ping-interval", "0", "--chat-rate", "0"});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    const int readers = Sanitized ? 50 : 400;
    logIn(crowd, readers, "reader");
    // The longest name makes the longest line: 72 bytes to everyone for 9 bytes sent.
    const std::size_t attacker = crowd.open(hello(std::string(64, 'a')));
    const std::vector<bool> deaf = [&] {
        std::vector<bool> d(crowd.size(), false);
        d[attacker] = true;
        return d;
    }();
    // Everyone has heard of the attacker before the burst.
    std::size_t heard = 0;
    crowd.onMessage([&](std::size_t, std::string_view m) {
        if (m.rfind("USERSTATE\xA4" + std::to_string(readers + 1) + "\xA4", 0) == 0)
            ++heard;
    });
    ASSERT_TRUE(crowd.until([&] { return heard == static_cast<std::size_t>(readers); }, 60, &deaf));
    const long idleHeap = server.heapInUseKiB();

    // 3,700 empty chat lines in one write: each a message to everyone.
    constexpr std::size_t Lines = 3700;
    std::vector<std::size_t> lines(crowd.size(), 0);
    crowd.onMessage([&](std::size_t i, std::string_view m) {
        if (m.rfind("MSG\xA4", 0) == 0)
            ++lines[i];
    });
    std::string burst;
    for (std::size_t i = 0; i < Lines; ++i)
        burst += framed(msg("SENDMSG", {""}));
    crowd.send(attacker, burst);
    const auto allRead = [&] {
        for (int i = 0; i < readers; ++i)
            if (lines[i] < Lines && !crowd[i].closed)
                return false;
        return true;
    };
    EXPECT_TRUE(crowd.until(allRead, 120, &deaf));
    for (int i = 0; i < readers; ++i) {
        ASSERT_FALSE(crowd[i].closed) << "reader " << i << " dropped after " << lines[i];
        ASSERT_EQ(lines[i], Lines) << "reader " << i;
    }
    // Bounds far above any sound run (bench_lobbyd_bursts shows the figures: about 5 MiB at
    // the peak, the heap some 30 KiB above its idle size after the burst). Queuing the burst
    // for everyone would take over 100 MiB; keeping 10 KiB a reader, 4 MiB.
    if (!Sanitized) {
        ASSERT_GE(idleHeap, 0) << "no heap figure in the log:\n" << server.log();
        EXPECT_LT(server.memoryKiB("VmHWM"), 64 * 1024);
        const long afterHeap = server.heapInUseKiB();
        ASSERT_GE(afterHeap, 0) << server.log();
        EXPECT_LT(afterHeap, idleHeap + 4 * 1024) << "before the burst: " << idleHeap;
    }
}

// Newcomers a few at a time, each asking for the user list once it is in: its answers and the
// others' arrivals meet in the same passes and rounds.
TEST(Lobbyd, ACrowdAskingForTheUserListAsItArrivesIsAllAnswered)
{
    constexpr std::size_t Users = 400, Window = 32;
    Lobbyd server({"--ping-interval", "0", "--max-users", "500"});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    std::vector<std::size_t> ask;
    std::size_t lists = 0;
    crowd.onMessage([&](std::size_t i, std::string_view m) {
        if (m.rfind("LOGIN\xA4", 0) == 0)
            ask.push_back(i);
        else if (m.rfind("ENDUSERS", 0) == 0)
            ++lists;
    });
    EXPECT_TRUE(crowd.until([&] {
        for (const std::size_t i : std::exchange(ask, {}))
            crowd.send(i, framed(msg("GETUSERLIST")));
        while (crowd.size() < Users && crowd.size() < lists + Window)
            crowd.open(hello("c" + std::to_string(crowd.size())));
        return lists == Users;
    }));
    for (std::size_t i = 0; i < crowd.size(); ++i)
        ASSERT_FALSE(crowd[i].closed) << i;
}

TEST(Lobbyd, UserListBurstKeepsOthersAnswered)
{
    if (Sanitized)
        GTEST_SKIP() << "a round-trip bound means nothing in a sanitizer build";
    constexpr int Users = 2000;
    // A socket each in this process too: raise the soft limit as the server does.
    struct rlimit files = {};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < Users + 100)
        GTEST_SKIP() << "this process may open only " << files.rlim_cur << " files";
    Lobbyd server({"--ping-interval", "0", "--max-users", "2100"});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    logIn(crowd, Users, "u");
    const std::size_t attacker = 0, polite = 1;

    // A request only its sender hears of: an idle user asking to be idle.
    bool answered = false;
    crowd.onMessage([&](std::size_t i, std::string_view m) {
        if (i == polite && m.rfind("USERSTATE\xA4", 0) == 0)
            answered = true;
    });
    std::string burst;
    for (int i = 0; i < 5400; ++i)
        burst += framed(msg("GETUSERLIST"));
    crowd.send(attacker, burst);
    std::chrono::microseconds worst{0};
    for (int round = 0; round < 40; ++round) {
        answered = false;
        const auto sent = Clock::now();
        crowd.send(polite, framed(msg("BEIDLE")));
        ASSERT_TRUE(crowd.until([&] { return answered; }, 10));
        worst = std::max(
            worst, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent));
        crowd.pump(5);
    }
    // Starving the others until the burst is served would take seconds; a sound server
    // answers in about a millisecond (bench_lobbyd_bursts shows the figure).
    EXPECT_LT(worst.count(), 2'000'000);
    EXPECT_FALSE(crowd[attacker].closed);
}

} // namespace

TEST(Lobbyd, FaultyConfigurationAtStartIsAClearErrorWithStatus2)
{
    const std::string path = tempPath("lobbyd-test-conf");
    const std::pair<std::string, std::string> cases[] = {
        {"port = 0\n[lobby\n", path + ":2:"},
        {"colour = \"red\"\n", path + ":1: unknown setting 'colour'"},
        {"max-users = 0\n", path + ": max-users takes a whole number from 1 to 32767"},
        {"chat-burst = 0\n", path + ": chat-burst takes a whole number from 1 to 1000"},
        {"ping-interval = \"often\"\n", path + ":1: ping-interval takes a whole number"},
        {"log-level = \"loud\"\n", "log-level is one of error, warning, info, debug"},
        {"bind = \"lobby.invalid\"\n", "'lobby.invalid' is not an IPv4 or IPv6 address"},
        {"motd = \"/nonexistent/motd\"\n", "cannot read /nonexistent/motd"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        writeFile(path, text);
        const auto [status, err] = runToEnd({"--config", path});
        EXPECT_EQ(status, 2);
        EXPECT_NE(err.find("stonecall-lobbyd: "), std::string::npos) << err;
        EXPECT_NE(err.find(message), std::string::npos) << err;
    }
    // A file named on the command line must be there (the default one may be missing).
    unlink(path.c_str());
    const auto [status, err] = runToEnd({"--config", path});
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find(path + ": No such file or directory"), std::string::npos) << err;
    // Nor is a folder an empty configuration.
    const auto [folderStatus, folderErr] = runToEnd({"--config", "/tmp"});
    EXPECT_EQ(folderStatus, 2);
    EXPECT_NE(folderErr.find("/tmp: Is a directory"), std::string::npos) << folderErr;
}

TEST(Lobbyd, ReloadTakesAGoodConfigurationAndKeepsTheLastOnAFaultyOne)
{
    const std::string motd = tempPath("lobbyd-test-motd");
    writeFile(motd, "first\n");
    const auto configuration = [&](const std::string& more) {
        return "motd = \"" + motd + "\"\nping-interval = 5\n" + more;
    };
    // The command line's ping interval wins over the file's, at start and at reloads.
    Lobbyd server({"--ping-interval", "0"}, 0, configuration("max-users = 5\n"));
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    // A user logged in and asking for the message of the day: what it was told, or that the
    // server closed the connection.
    const auto enter = [&](const std::string& name) {
        const std::size_t i = crowd.open(hello(name) + framed(msg("MOTD")));
        crowd[i].record = true;
        crowd.until([&] {
            return crowd[i].closed ||
                   (!crowd[i].inbox.empty() && crowd[i].last().startsWith("MOTDLINE"));
        });
        return i;
    };
    const auto motdLine = [](const std::string& text) {
        return msg("MOTDLINE", {EncryptText(text)});
    };
    const std::size_t ann = enter("ann");
    EXPECT_EQ(crowd[ann].last(), motdLine("first"));

    writeFile(motd, "second\n");
    writeFile(server.configPath(), configuration("max-users = 2\nchat-rate = 3\n"));
    std::size_t from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged("reloaded: 1 lines of message of the day, max-users 2, "
                              "ping-interval 0, log-level info, chat-rate 3",
                              from))
        << server.log();
    const std::size_t bob = enter("bob");
    EXPECT_EQ(crowd[bob].last(), motdLine("second"));
    EXPECT_TRUE(crowd[enter("carl")].closed) << "over the new user limit";

    // A faulty file leaves everything as it was, the message of the day included.
    writeFile(motd, "third\n");
    writeFile(server.configPath(), configuration("max-users = \"many\"\n"));
    from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged("error: reload refused, the configuration stays as it was: " +
                                  server.configPath() + ":3: max-users takes a whole number",
                              from))
        << server.log();
    crowd.send(bob, framed(msg("LOGOUT")));
    EXPECT_TRUE(crowd.until([&] { return crowd[bob].closed; }));
    const std::size_t dave = enter("dave");
    EXPECT_EQ(crowd[dave].last(), motdLine("second"));
    EXPECT_TRUE(crowd[enter("eve")].closed) << "the user limit stays 2";

    // Nobody was dropped by the reloads: ann hears of everyone who came in.
    EXPECT_TRUE(
        crowd.until([&] { return crowd[ann].closed || heard(crowd[ann], user(2, "dave")); }));
    EXPECT_FALSE(crowd[ann].closed);
    unlink(motd.c_str());
}

TEST(Lobbyd, UnderSystemdLinesCarryAPriorityAndNoTimeOfTheirOwn)
{
    // The variable systemd sets for a service whose output goes to the journal.
    setenv("JOURNAL_STREAM", "8:12345", 1);
    Lobbyd server({"--ping-interval", "0"});
    unsetenv("JOURNAL_STREAM");
    ASSERT_NE(server.port(), 0);
    EXPECT_TRUE(server.logged("\n<6>listening on every address port ")) << server.log();
    std::istringstream lines(server.log());
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("<6>", 0) == 0 || line.rfind("<4>", 0) == 0) << line;
}

TEST(Lobbyd, OperatorKicksBansAndMutesThroughTheControlTool)
{
    TempFolder folder;
    const std::string control = folder / "control";
    Lobbyd server({"--ping-interval", "0", "--chat-rate", "0", "--control-socket", control,
                   "--state-dir", folder / "state"});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    const std::size_t ann = enter(crowd, "ann");
    const std::size_t bob = enter(crowd, "bob");
    const std::size_t carl = enter(crowd, "carl");
    const std::size_t jurgen = enter(crowd, "J\xFCrgen"); // the lobby's single-byte set

    // Mute: bob is told once, at once; his lines reach nobody, ann's still do.
    auto [status, out] = lobbyctl(control, {"mute", "BOB"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "muted \"bob\" (127.0.0.1) until unmuted\n");
    crowd.send(bob, chatLine("bob here") + chatLine("bob again"));
    crowd.send(ann, chatLine("ann here"));
    const Message annLine = chat("ann", "ann here");
    ASSERT_TRUE(
        crowd.until([&] { return heard(crowd[bob], annLine) && heard(crowd[carl], annLine); }));
    const Message mutedNotice =
        notice("You are muted by the operator: your chat lines are not relayed.");
    EXPECT_EQ(std::count(crowd[bob].inbox.begin(), crowd[bob].inbox.end(), mutedNotice), 1);
    for (const std::size_t i : {ann, bob, carl})
        for (const std::string& m : crowd[i].inbox)
            EXPECT_FALSE(Message(m).startsWith("MSG\xA4"
                                               "bob: "))
                << i << ": " << Message(m);
    std::tie(status, out) = lobbyctl(control, {"who"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("\tbob\t127.0.0.1\twaiting\tmuted\n"), std::string::npos) << out;
    EXPECT_NE(out.find("4 users"), std::string::npos) << out;

    // Kick: carl is told, then closed; the log names the action, the user and the address.
    std::tie(status, out) = lobbyctl(control, {"kick", "carl"});
    EXPECT_EQ(status, 0) << out;
    ASSERT_TRUE(crowd.until([&] { return crowd[carl].closed; }));
    EXPECT_EQ(crowd[carl].last(), notice("You were disconnected by the operator."));
    EXPECT_TRUE(server.logged("127.0.0.1:")) << server.log();
    EXPECT_NE(server.log().find("user \"carl\" kicked by the operator"), std::string::npos)
        << server.log();
    std::tie(status, out) = lobbyctl(control, {"kick", "carl"});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "stonecall-lobbyctl: no user named \"carl\" is logged in\n");

    // A ban by name, typed in UTF-8: the user is told and dropped, and no spelling of the
    // name logs in again.
    std::tie(status, out) = lobbyctl(control, {"ban", "j\xC3\xBCrgen"});
    EXPECT_EQ(status, 0) << out;
    ASSERT_TRUE(crowd.until([&] { return crowd[jurgen].closed; }));
    EXPECT_EQ(crowd[jurgen].last(), notice("You are banned from this lobby."));
    EXPECT_TRUE(refused(crowd, "J\xDCRGEN"));
    EXPECT_TRUE(server.logged("refused: banned name: \"J\xC3\x9CRGEN\"")) << server.log();

    // What an operator types cannot break a message: the field separator is refused.
    std::tie(status, out) = lobbyctl(control, {"notice", "a\xC2\xA4"
                                                         "b"});
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("reserved by the lobby protocol"), std::string::npos) << out;
    std::tie(status, out) = lobbyctl(control, {"notice", "Back", "in", "5", "minutes"});
    EXPECT_EQ(status, 0) << out;
    ASSERT_TRUE(crowd.until([&] { return heard(crowd[ann], notice("Back in 5 minutes")); }));
    for (const std::string& m : crowd[ann].inbox)
        EXPECT_EQ(m.find("a\xA4"
                         "b"),
                  std::string::npos);

    // A ban by address for a second drops everyone there, each told, and refuses log-ins
    // until it is lifted (its lapse is the lobby's, on a fake clock, in ModerationTest).
    std::tie(status, out) = lobbyctl(control, {"ban", "::ffff:127.0.0.1", "--for", "1s"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("banned address 127.0.0.1 for 1 s"), std::string::npos) << out;
    ASSERT_TRUE(crowd.until([&] { return crowd[ann].closed && crowd[bob].closed; }));
    EXPECT_EQ(crowd[ann].last(), notice("You are banned from this lobby for 1 second."));
    EXPECT_TRUE(refused(crowd, "dave"));
    EXPECT_TRUE(server.logged("refused: banned address: \"dave\"")) << server.log();
    std::tie(status, out) = lobbyctl(control, {"unban", "127.0.0.1"});
    EXPECT_EQ(status, 0) << out;
    enter(crowd, "dave");
}

TEST(Lobbyd, BansOutliveARestart)
{
    TempFolder folder;
    const std::string control = folder / "control";
    const std::vector<std::string> options = {"--ping-interval", "0",           "--control-socket",
                                              control,           "--state-dir", folder / "state"};
    {
        Lobbyd first(options);
        ASSERT_NE(first.port(), 0);
        EXPECT_EQ(lobbyctl(control, {"ban", "Bob"}).first, 0);
        EXPECT_EQ(lobbyctl(control, {"ban", "10.1.2.3", "--for", "1h"}).first, 0);
    }
    // The next run as the packaged service starts it: the folders from systemd's variables.
    setenv("STATE_DIRECTORY", (folder / "state").c_str(), 1);
    setenv("RUNTIME_DIRECTORY", folder.path().c_str(), 1);
    Lobbyd second({"--ping-interval", "0"});
    unsetenv("STATE_DIRECTORY");
    unsetenv("RUNTIME_DIRECTORY");
    ASSERT_NE(second.port(), 0);
    Crowd crowd(second.port());
    EXPECT_TRUE(refused(crowd, "bob"));
    const auto [status, out] = lobbyctl(control, {"bans"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("name\tBob\tuntil lifted\n"), std::string::npos) << out;
    EXPECT_NE(out.find("address\t10.1.2.3\t"), std::string::npos) << out;
    EXPECT_NE(out.find("2 bans"), std::string::npos) << out;
    EXPECT_EQ(lobbyctl(control, {"unban", "bob"}).first, 0);
    enter(crowd, "bob");
}

TEST(Lobbyd, ControlSocketIsTheOwnersAloneAndBoundedAgainstItsClients)
{
    TempFolder folder;
    const std::string control = folder / "control";
    // A socket left by a server that did not remove it is taken over...
    {
        const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, control.c_str());
        ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        close(stale);
    }
    {
        Lobbyd server({"--ping-interval", "0", "--control-socket", control});
        ASSERT_NE(server.port(), 0) << server.log();
        struct stat st {};
        ASSERT_EQ(lstat(control.c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(st.st_uid, getuid());

        // At most 8 control connections at once, and a line of at most 4096 bytes.
        const auto connectRaw = [&] {
            const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strcpy(address.sun_path, control.c_str());
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            return fd;
        };
        const auto readAll = [](int fd) {
            std::string text;
            char buffer[256];
            pollfd p{fd, POLLIN, 0};
            while (poll(&p, 1, 5000) > 0) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                text.append(buffer, static_cast<std::size_t>(n));
            }
            return text;
        };
        std::vector<int> held;
        for (int i = 0; i < 8; ++i)
            held.push_back(connectRaw());
        const std::string who = "who\n";
        ASSERT_EQ(write(held[0], who.data(), who.size()), static_cast<ssize_t>(who.size()));
        char buffer[64];
        EXPECT_GT(read(held[0], buffer, sizeof buffer), 0); // all eight served
        const int ninth = connectRaw();
        EXPECT_EQ(readAll(ninth), "error: too many control connections\n");
        close(ninth);
        const std::string endless(5000, 'x');
        EXPECT_EQ(write(held[1], endless.data(), endless.size()),
                  static_cast<ssize_t>(endless.size()));
        EXPECT_EQ(readAll(held[1]), "error: a line is at most 4096 bytes\n");
        for (const int fd : held)
            close(fd);
        const auto [status, out] = lobbyctl(control, {"who"});
        EXPECT_EQ(status, 0) << out;
    }
    // Removed at the end.
    struct stat st {};
    EXPECT_NE(lstat(control.c_str(), &st), 0);

    // A link at the path is never followed or removed: the server refuses to start.
    const std::string target = folder / "elsewhere";
    ASSERT_EQ(symlink(target.c_str(), control.c_str()), 0);
    const auto [status, err] = runToEnd({"--config", "", "--control-socket", control});
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find(control + ": something other than a socket is there"), std::string::npos)
        << err;
    EXPECT_NE(lstat(target.c_str(), &st), 0);
    EXPECT_EQ(lstat(control.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(Lobbyd, PlayersReadTheShutdownNoticeBeforeTheLobbyCloses)
{
    {
        Lobbyd server({"--ping-interval", "0", "--shutdown-notice", "1"});
        ASSERT_NE(server.port(), 0);
        Crowd crowd(server.port());
        const std::size_t ann = enter(crowd, "ann");
        const auto signalled = Clock::now();
        server.signal(SIGTERM);
        ASSERT_TRUE(crowd.until([&] { return crowd[ann].closed; }, 10));
        EXPECT_GE(Clock::now() - signalled, std::chrono::milliseconds(900));
        EXPECT_EQ(crowd[ann].last(), notice("The lobby is closing in 1 second."));
    }
    // A second signal closes at once.
    Lobbyd server({"--ping-interval", "0", "--shutdown-notice", "60"});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    const std::size_t ann = enter(crowd, "ann");
    server.signal(SIGTERM);
    ASSERT_TRUE(crowd.until(
        [&] { return heard(crowd[ann], notice("The lobby is closing in 60 seconds.")); }));
    crowd.pump(200);
    EXPECT_FALSE(crowd[ann].closed);
    // Nobody new is let in to a lobby about to close.
    EXPECT_TRUE(crowd[crowd.open()].closed);
    server.signal(SIGINT);
    EXPECT_TRUE(crowd.until([&] { return crowd[ann].closed; }, 5));
}
