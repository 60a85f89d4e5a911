// What the operator meets running the real stonecall-lobbyd: a state folder that is never
// lost or shared, bans given and read back through the real stonecall-lobbyctl, and the
// tool answered while the lobby's peers hold every descriptor the server may open.

#include "LobbydProcess.h"

#include "wire/Encryptor.h"
#include "wire/Wire.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace stonecall;
using namespace stonecall::test;
using testing::HasSubstr;
using Clock = std::chrono::steady_clock;

namespace {

// A raw connection to the control socket; -1 when none could be made.
int controlConnection(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends one command line and reads up to the reply's last line (ok or error).
std::string ask(int fd, const std::string& line)
{
    if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
        return "not sent";
    std::string reply;
    char buffer[4096];
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
        const auto last = reply.rfind('\n', reply.size() - 2);
        const std::string tail = reply.substr(last == std::string::npos ? 0 : last + 1);
        if (reply.back() == '\n' && (tail.rfind("ok", 0) == 0 || tail.rfind("error", 0) == 0))
            break;
    }
    return reply;
}

TEST(LobbydOperator, TheToolIsAnsweredWhileThePeersHoldEveryDescriptor)
{
    if (Sanitized)
        GTEST_SKIP() << "the vptr check misfires when no descriptor is free";
    TempFolder folder;
    const std::string control = folder / "control";
    Lobbyd server({"--ping-interval", "0", "--max-users", "200", "--control-socket", control}, 40);
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    std::size_t answers = 0;
    crowd.onMessage([&](std::size_t, std::string_view m) {
        if (m == makeCommand("VERSION", {"GOOD"}))
            ++answers;
    });
    for (int i = 0; i < 60; ++i)
        crowd.open(framed(msg("VERSION", {"1"})));
    ASSERT_TRUE(server.logged("waiting for a connection to close")) << server.log();
    crowd.pump(300);
    ASSERT_LT(answers, 60u);

    // Every descriptor taken: the reserve takes the operator's connection, and comes back
    // when it closes, for the next.
    for (int round = 0; round < 2; ++round) {
        const auto [status, out] = lobbyctl(control, {"who"});
        EXPECT_EQ(status, 0) << out;
        EXPECT_THAT(out, HasSubstr("0 users")) << server.log();
    }
    EXPECT_TRUE(server.logged("the one kept in reserve takes the operator's connection"));

    // One control connection held, another waiting: the server waits without spinning on
    // the failing accept, and takes the waiting one once the first lets go.
    const int held = controlConnection(control);
    ASSERT_GE(held, 0);
    EXPECT_THAT(ask(held, "who\n"), HasSubstr("ok: 0 users"));
    const int waiting = controlConnection(control);
    ASSERT_GE(waiting, 0);
    ASSERT_TRUE(server.logged("control: accept: ")) << server.log();
    const double before = server.cpuSeconds();
    crowd.pump(1000);
    EXPECT_LT(server.cpuSeconds() - before, 0.1);
    close(held);
    EXPECT_THAT(ask(waiting, "who\n"), HasSubstr("ok: 0 users"));
    close(waiting);
}

TEST(LobbydOperator, AStateFolderItCannotReadOrThatIsInUseStopsTheServerWithStatus1)
{
    TempFolder folder;
    const std::string state = folder / "state";
    std::filesystem::create_directories(state + "/bans"); // read fails, as root too
    auto [status, err] = runToEnd({"--config", "", "--port", "0", "--state-dir", state});
    EXPECT_EQ(status, 1) << err;
    EXPECT_THAT(err, HasSubstr("state: " + state + "/bans: Is a directory"));
    EXPECT_TRUE(std::filesystem::is_directory(state + "/bans"));

    std::filesystem::remove(state + "/bans");
    writeFile(state + "/bans", "name - Ann\nname - \x01\n");
    Lobbyd first({"--state-dir", state});
    ASSERT_NE(first.port(), 0);
    EXPECT_TRUE(first.logged("state: 1 ban loaded, 1 lines ignored: line 2: a name nobody can "
                             "log in with"))
        << first.log();
    std::tie(status, err) = runToEnd({"--config", "", "--port", "0", "--state-dir", state});
    EXPECT_EQ(status, 1) << err;
    EXPECT_THAT(err, HasSubstr("state: " + state + ": another server uses this state folder"));
}

TEST(LobbydOperator, BansByNameAddressAndRangeCarryReasonsAndOneNotKeptEndsTheToolWith1)
{
    TempFolder folder;
    const std::string control = folder / "control";
    const std::string state = folder / "state";
    Lobbyd server({"--ping-interval", "0", "--control-socket", control, "--state-dir", state});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    const std::size_t ann = enter(crowd, "ann");

    auto [status, out] = lobbyctl(control, {"ban", "name", "127.0.0.9", "--reason", "posing"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "banned name \"127.0.0.9\" until lifted\n");
    std::tie(status, out) = lobbyctl(control, {"ban", "127.0.0.9"});
    EXPECT_EQ(status, 1) << out;
    EXPECT_THAT(out, HasSubstr("say ban name or ban address"));
    std::tie(status, out) =
        lobbyctl(control, {"ban", "address", "127.0.0.0/8", "--for", "1h", "--reason", "tests"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_THAT(out, HasSubstr("banned address 127.0.0.0/8 for 3600 s; dropped \"ann\""));
    ASSERT_TRUE(crowd.until([&] { return crowd[ann].closed; }));
    EXPECT_EQ(crowd[ann].last(), notice("You are banned from this lobby for 1 hour. Reason: "
                                        "tests"));
    std::tie(status, out) = lobbyctl(control, {"bans"});
    EXPECT_EQ(status, 0) << out;
    EXPECT_THAT(out, HasSubstr("address\t127.0.0.0/8\t"));
    EXPECT_THAT(out, HasSubstr("\ttests\nname\t127.0.0.9\tuntil lifted\tposing\n2 bans\n"));
    std::tie(status, out) = lobbyctl(control, {"kick", "ann", "--for", "1h"});
    EXPECT_EQ(status, 2) << out;

    // The state folder refuses the next write: the ban holds for now, the tool says why.
    std::filesystem::create_directories(state + "/bans.new");
    std::tie(status, out) = lobbyctl(control, {"ban", "bob"});
    EXPECT_EQ(status, 1) << out;
    EXPECT_THAT(out, HasSubstr("banned name \"bob\" until lifted for now, but it is not kept "
                               "across a restart: cannot write"));
}

TEST(LobbydOperator, AReloadSaysWhatChangedAndRefusesAFifoAndAnEmptyFile)
{
    TempFolder folder;
    const std::string motd = folder / "motd";
    writeFile(motd, "first\n");
    const std::string settings = "motd = \"" + motd + "\"\nmax-users = 5\n";
    Lobbyd server({"--ping-interval", "0"}, 0, settings);
    ASSERT_NE(server.port(), 0);
    writeFile(server.configPath(), settings + "chat-burst = 4\n");
    std::size_t from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged("; changed: chat-burst 8 -> 4\n", from)) << server.log();

    // A FIFO in the message of the day's place would hold the lobby at the next reload.
    unlink(motd.c_str());
    ASSERT_EQ(mkfifo(motd.c_str(), 0600), 0);
    writeFile(server.configPath(), settings);
    from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged("reload refused, the configuration stays as it was: cannot read " +
                                  motd + ": a FIFO, not a regular file",
                              from))
        << server.log();
    // A configuration caught mid-rewrite is not every default.
    writeFile(server.configPath(), "");
    from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged(server.configPath() + ": empty", from)) << server.log();
    // The lobby still answers, with the last good settings.
    Crowd crowd(server.port());
    const std::size_t i = crowd.open(hello("ann") + framed(msg("MOTD")));
    crowd[i].record = true;
    EXPECT_TRUE(
        crowd.until([&] { return heard(crowd[i], msg("MOTDLINE", {EncryptText("first")})); }));
    unlink(motd.c_str());
    writeFile(motd, "x\n");
    writeFile(server.configPath(), settings);
    from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged("; changed: motd 1 lines, 6 bytes -> 1 lines, 2 bytes, chat-burst "
                              "4 -> 8\n",
                              from))
        << server.log();
    // The limits by network and for loopback peers, at a reload too.
    writeFile(server.configPath(), settings + "ipv6-prefix = 56\nlimit-loopback = true\n");
    from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(
        server.logged("; changed: ipv6-prefix 64 -> 56, limit-loopback false -> true\n", from))
        << server.log();
    writeFile(server.configPath(), settings + "limit-loopback = 1\n");
    from = server.log().size();
    server.signal(SIGHUP);
    EXPECT_TRUE(server.logged(":3: limit-loopback takes true or false", from)) << server.log();
}

// Prometheus text: every sample named stonecall_..., after its # HELP and # TYPE lines, with
// a whole number; the samples by name (labels included). Nothing when a line breaks the form.
std::optional<std::map<std::string, double>> parsePrometheus(const std::string& text)
{
    std::map<std::string, double> samples;
    std::set<std::string> helped, typed;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_match(line, m, std::regex("# HELP (stonecall_[a-z_]+) \\S.*"))) {
            helped.insert(m[1]);
        } else if (std::regex_match(line, m,
                                    std::regex("# TYPE (stonecall_[a-z_]+) (gauge|counter)"))) {
            if (!helped.count(m[1]))
                return std::nullopt;
            typed.insert(m[1]);
        } else if (std::regex_match(
                       line, m,
                       std::regex("(stonecall_[a-z_]+)(\\{[a-z]+=\"[^\"]*\"\\})? ([0-9]+)"))) {
            if (!typed.count(m[1]) || samples.count(m[1].str() + m[2].str()))
                return std::nullopt;
            samples[m[1].str() + m[2].str()] = std::stod(m[3]);
        } else {
            return std::nullopt;
        }
    }
    return samples;
}

TEST(LobbydOperator, StatsAreTheLobbysFiguresInPrometheusText)
{
    TempFolder folder;
    const std::string control = folder / "control";
    Lobbyd server({"--ping-interval", "0", "--control-socket", control});
    ASSERT_NE(server.port(), 0);
    Crowd crowd(server.port());
    const std::size_t ann = enter(crowd, "ann");
    enter(crowd, "bob");
    crowd.open(framed(msg("VERSION", {"1"}))); // still logging in
    crowd.send(ann, chatLine("hello"));
    ASSERT_TRUE(crowd.until([&] {
        return heard(crowd[ann], msg("MSG", {"ann: ", EncryptText("hello")}));
    }));
    auto [status, out] = lobbyctl(control, {"ban", "10.0.0.0/8"});
    ASSERT_EQ(status, 0) << out;

    std::tie(status, out) = lobbyctl(control, {"stats"});
    ASSERT_EQ(status, 0) << out;
    const auto samples = parsePrometheus(out);
    ASSERT_TRUE(samples) << out;
    const auto at = [&](const std::string& name) {
        const auto it = samples->find("stonecall_" + name);
        return it == samples->end() ? -1.0 : it->second;
    };
    EXPECT_EQ(at("users"), 2) << out;
    EXPECT_EQ(at("connections"), 3) << out;
    EXPECT_EQ(at("connections_logging_in"), 1) << out;
    EXPECT_EQ(at("bans"), 1) << out;
    // Three log-ins (VERSION, LOGIN each but the last) and a chat line at least.
    EXPECT_GE(at("messages_received_total"), 6) << out;
    EXPECT_GT(at("received_bytes_total"), at("messages_received_total")) << out;
    // The answers to three VERSIONs and two LOGINs, bob's arrival, the chat line to both.
    EXPECT_GE(at("messages_sent_total"), 8) << out;
    EXPECT_GT(at("sent_bytes_total"), at("messages_sent_total")) << out;
    EXPECT_GT(at("resident_memory_bytes"), 1 << 20) << out;
    // A refused log-in is counted under its reason; every reason is there, from 0.
    EXPECT_TRUE(refused(crowd, "ann"));
    std::tie(status, out) = lobbyctl(control, {"stats"});
    const auto later = parsePrometheus(out);
    ASSERT_TRUE(later) << out;
    EXPECT_EQ(later->at("stonecall_refused_logins_total{reason=\"name_in_use\"}"), 1) << out;
    EXPECT_EQ(later->at("stonecall_refused_logins_total{reason=\"banned\"}"), 0) << out;
}

} // namespace
