// The server over real loopback sockets with several scripted clients at once.

#include "LobbyServer.h"
#include "ScriptedClient.h"

#include "wire/Encryptor.h"
#include "wire/Wire.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::test;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Optional;
using testing::SizeIs;

namespace {

class LobbyServerTest : public testing::Test {
protected:
    void start(ServerConfig config = {})
    {
        if (config.lobby.motd.empty())
            config.lobby.motd = {"Welcome"};
        if (config.pingInterval == ServerConfig{}.pingInterval)
            config.pingInterval = std::chrono::milliseconds(0);
        setWaitPump(nullptr);
        server = std::make_unique<LobbyServer>(config);
        ASSERT_TRUE(server->listen("127.0.0.1", 0));
        ASSERT_NE(server->port(), 0);
        setWaitPump([this] { server->poll(std::chrono::milliseconds(1)); });
    }
    void SetUp() override { start(); }
    void TearDown() override { setWaitPump(nullptr); }

    std::unique_ptr<ScriptedClient> client()
    {
        return std::make_unique<ScriptedClient>(server->port());
    }
    // A logged-in client; its index is checked against `index`.
    std::unique_ptr<ScriptedClient> loggedIn(const std::string& name, int index)
    {
        auto c = client();
        EXPECT_EQ(c->logIn(name), index) << name;
        return c;
    }
    bool waitUsers(std::size_t count)
    {
        return waitUntil([&] { return server->lobby().userCount() == count; }, 10000);
    }

    std::unique_ptr<LobbyServer> server;
};

TEST_F(LobbyServerTest, LogInConversationByteForByte)
{
    auto ann = client();
    ann->sendRaw(QByteArray("VERSION\xA4"
                            "1\x06",
                            10));
    EXPECT_EQ(ann->next(), "VERSION\xA4GOOD");
    ann->send(msg("LOGIN", {"ann", "127.0.0.1"}));
    EXPECT_EQ(ann->next(), "LOGIN\xA4"
                           "1");
    ann->send("GETUSERLIST");
    EXPECT_THAT(ann->upTo("ENDUSERS"), Optional(ElementsAre("USER\xA4"
                                                            "0\xA4NONE\xA4",
                                                            "USER\xA4"
                                                            "1\xA4"
                                                            "ann\xA4",
                                                            "USERSTATE\xA4"
                                                            "1\xA4IDLE")));
    ann->send("MOTD");
    EXPECT_EQ(ann->next(), msg("MOTDLINE", {EncryptText("Welcome")}));

    auto bob = loggedIn("bob", 2);
    EXPECT_EQ(ann->next(), user(2, "bob"));
    EXPECT_EQ(ann->next(), state(2, "IDLE"));
}

TEST_F(LobbyServerTest, RefusalsCloseTheConnection)
{
    auto ann = loggedIn("ann", 1);

    auto old = client();
    old->send(msg("VERSION", {"0"}));
    EXPECT_EQ(old->next(), msg("VERSION", {"BAD"}));
    EXPECT_TRUE(old->waitClosed());

    for (const std::string name : {"ann", "", "NONE", "a\x01z"}) {
        SCOPED_TRACE(name);
        auto twin = client();
        twin->send(msg("VERSION", {"1"}));
        twin->send(msg("LOGIN", {name, "127.0.0.1"}));
        EXPECT_EQ(twin->next(), msg("VERSION", {"GOOD"}));
        EXPECT_TRUE(twin->waitClosed());
    }
    // ann heard of none of them: her own chat line is the first thing she gets.
    ann->send(say("still here"));
    EXPECT_THAT(ann->upTo(chat("ann", "still here")), Optional(IsEmpty()));
}

TEST_F(LobbyServerTest, LobbyFullRefusesByClosing)
{
    ServerConfig config;
    config.lobby.maxUsers = 2;
    start(config);
    auto ann = loggedIn("ann", 1);
    auto bob = loggedIn("bob", 2);
    auto cid = client();
    cid->send(msg("VERSION", {"1"}));
    cid->send(msg("LOGIN", {"cid", "127.0.0.1"}));
    EXPECT_TRUE(cid->waitClosed());
    bob->send("LOGOUT");
    EXPECT_TRUE(bob->waitClosed());
    auto dan = loggedIn("dan", 2);
}

TEST_F(LobbyServerTest, HutRulesSeenByEveryClient)
{
    auto ann = loggedIn("ann", 1);
    auto bob = loggedIn("bob", 2);
    auto cid = loggedIn("cid", 3);
    auto dan = loggedIn("dan", 4);
    std::vector<ScriptedClient*> all = {ann.get(), bob.get(), cid.get(), dan.get()};
    ann->send(say("sync"));
    for (ScriptedClient* c : all)
        ASSERT_TRUE(c->upTo(chat("ann", "sync")));

    // Requests from one client are handled in order, so its own chat line after them shows
    // in every client whether they changed anything.
    using Heard = std::vector<Messages>;
    const auto afterLine = [&](ScriptedClient& sender, std::string_view name,
                               std::initializer_list<Message> requests) {
        for (const Message& request : requests)
            sender.send(request);
        sender.send(say("mark"));
        Heard heard;
        for (ScriptedClient* c : all)
            heard.push_back(c->upTo(chat(name, "mark")).value_or(Messages{"?"}));
        return heard;
    };
    const auto everyone = [&](const Messages& messages) { return Heard(all.size(), messages); };
    const Heard nothing(all.size());

    EXPECT_EQ(afterLine(*ann, "ann", {msg("BEHOST", {"3", "pw"})}), everyone({host(1, 3, "pw")}));
    EXPECT_EQ(afterLine(*bob, "bob", {msg("BECLIENT", {"1", "2"})}), everyone({member(2, 1, 2)}));
    // Place 2 is taken: cid gets the other one.
    EXPECT_EQ(afterLine(*cid, "cid", {msg("BECLIENT", {"1", "2"})}), everyone({member(3, 1, 1)}));

    // A full hut and a non-host: only the asker is told, and its buttons reset by its state.
    Heard danTold = nothing;
    const Message danIdle = state(4, "IDLE");
    danTold[3] = {notice("Hut not joined: it is full."), danIdle,
                  notice("Hut not joined: it is no longer open."), danIdle};
    EXPECT_EQ(afterLine(*dan, "dan", {msg("BECLIENT", {"1", ""}), msg("BECLIENT", {"2", ""})}),
              danTold);
    // Refused with silence: one's own hut, a member elsewhere (clients do not ask for these).
    EXPECT_EQ(afterLine(*ann, "ann", {msg("BECLIENT", {"1", ""})}), nothing);
    const Message danHosts = host(4, 2);
    EXPECT_EQ(afterLine(*dan, "dan", {msg("BEHOST", {"2", "NONE"})}), everyone({danHosts}));
    EXPECT_EQ(afterLine(*bob, "bob", {msg("BECLIENT", {"4", ""})}), nothing);

    // The host gives up: members first, in place order, then the host.
    EXPECT_EQ(afterLine(*ann, "ann", {"BEIDLE"}),
              everyone({state(3, "IDLE"), state(2, "IDLE"), state(1, "IDLE")}));
}

TEST_F(LobbyServerTest, HostWhoDropsTakesTheHutAlong)
{
    auto ann = loggedIn("ann", 1);
    auto bob = loggedIn("bob", 2);
    auto cid = loggedIn("cid", 3);
    ann->send(msg("BEHOST", {"2", "NONE"}));
    ASSERT_TRUE(bob->upTo(host(1, 2)));
    bob->send(msg("BECLIENT", {"1", ""}));
    for (ScriptedClient* c : {bob.get(), cid.get()})
        ASSERT_TRUE(c->upTo(member(2, 1, 1)));

    ann->abort();
    for (ScriptedClient* c : {bob.get(), cid.get()})
        EXPECT_THAT(c->upTo(user(1, "NONE")),
                    Optional(ElementsAre(state(2, "IDLE"), state(1, "IDLE"))));
    // Index 1 is free again and goes to the next newcomer.
    auto dan = loggedIn("dan", 1);
}

TEST_F(LobbyServerTest, OversizedMessageDropsTheSender)
{
    auto ann = loggedIn("ann", 1);
    auto bob = loggedIn("bob", 2);
    bob->sendRaw(QByteArray(5000, 'A'));
    EXPECT_TRUE(bob->waitClosed());
    EXPECT_THAT(ann->upTo(user(2, "NONE")),
                Optional(ElementsAre(user(2, "bob"), state(2, "IDLE"))));
}

// A peer that logs in and then never reads: a plain socket with a small receive buffer.
class SilentPeer {
public:
    SilentPeer(quint16 port, const std::string& name)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int small = 2048;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        const std::string hello =
            framed(msg("VERSION", {"1"})) + framed(msg("LOGIN", {name, "127.0.0.1"}));
        connected_ = connected_ && ::send(fd_, hello.data(), hello.size(), MSG_NOSIGNAL) ==
                                       static_cast<ssize_t>(hello.size());
    }
    ~SilentPeer() { ::close(fd_); }
    bool connected() const { return connected_; }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// The writes at once and the rounds' writes, gathered into one call and one call each.
class LobbyServerWritesTest : public LobbyServerTest, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override { start(config()); }
    ServerConfig config() const
    {
        ServerConfig config;
        config.gatherWrites = GetParam();
        return config;
    }
};
INSTANTIATE_TEST_SUITE_P(Writes, LobbyServerWritesTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Gathered" : "CallEach";
                         });

TEST_P(LobbyServerWritesTest, PeerThatDoesNotReadIsDroppedWhileOthersGoOn)
{
    ServerConfig config = this->config();
    config.outputLimit = 16 * 1024;
    config.socketSendBuffer = 4096;
    config.lobby.limits.chatLinesPerSecond = 0; // ann's lines only fill the silent peer's queue
    start(config);
    auto ann = loggedIn("ann", 1);
    SilentPeer slow(server->port(), "slow");
    ASSERT_TRUE(slow.connected());
    ASSERT_TRUE(ann->upTo(state(2, "IDLE")));

    const std::string line(500, 'x');
    bool gone = false;
    for (int round = 0; round < 2000 && !gone; ++round) {
        ann->send(say(line));
        const auto before = ann->upTo(chat("ann", line));
        ASSERT_TRUE(before) << "ann stopped hearing her own lines at round " << round;
        gone = !before->empty();
        if (gone) {
            EXPECT_THAT(*before, ElementsAre(user(2, "NONE")));
        }
    }
    EXPECT_TRUE(gone);
    EXPECT_EQ(server->lobby().userCount(), 1u);
}

TEST_F(LobbyServerTest, ClientsThatStopAnsweringPingsAreDropped)
{
    ServerConfig config;
    config.pingInterval = std::chrono::milliseconds(200);
    config.lobby.verifyEveryTicks = 2;
    start(config);
    auto ann = client();
    ann->answerAutomatically(true);
    ASSERT_EQ(ann->logIn("ann"), 1);
    auto bob = client();
    bob->answerAutomatically(true);
    ASSERT_EQ(bob->logIn("bob"), 2);
    bob->answerAutomatically(false);

    EXPECT_TRUE(bob->waitClosed());
    EXPECT_TRUE(ann->upTo(user(2, "NONE")));
    // ann kept answering and stays, challenges included.
    const int seen = ann->pingsAnswered();
    EXPECT_TRUE(waitUntil([&] { return ann->pingsAnswered() >= seen + 3; }, 10000));
    EXPECT_GE(ann->challengesAnswered(), 2);
    EXPECT_TRUE(ann->isConnected());
    EXPECT_EQ(server->lobby().userCount(), 1u);
}

TEST_F(LobbyServerTest, WrongVerifyAnswerDrops)
{
    ServerConfig config;
    config.pingInterval = std::chrono::milliseconds(100);
    config.lobby.verifyEveryTicks = 1;
    start(config);
    auto ann = client();
    ann->answerAutomatically(true);
    ASSERT_EQ(ann->logIn("ann"), 1);
    auto bob = client();
    bob->answerAutomatically(true, 1);
    ASSERT_EQ(bob->logIn("bob"), 2);
    EXPECT_TRUE(bob->waitClosed());
    EXPECT_EQ(bob->challengesAnswered(), 1);
    EXPECT_TRUE(ann->upTo(user(2, "NONE")));
    EXPECT_TRUE(ann->isConnected());
}

TEST_F(LobbyServerTest, AChatLineLeavesTheLoopIdle)
{
    // Once a line has gone out nothing may wait for a later pass: the timer would wake the
    // server for nothing, and its empty pass would hold the next line back.
    auto ann = loggedIn("ann", 1);
    auto bob = loggedIn("bob", 2);
    ASSERT_EQ(ann->next(), user(2, "bob"));
    ASSERT_EQ(ann->next(), state(2, "IDLE"));
    // Only what is ready runs while the clients read: a timer due later stays pending.
    setWaitPump([this] { server->context().poll(); });
    ann->send(say("hi"));
    EXPECT_EQ(bob->next(), chat("ann", "hi"));
    EXPECT_EQ(ann->next(), chat("ann", "hi"));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(server->context().poll(), 0u);
}

TEST_F(LobbyServerTest, AUserListLongerThanAnOutputBlockArrivesWhole)
{
    // An earlier run handed out 3,000 entries: the list frees each, some 40 KB in all.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("stonecall-list-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "highest-index") << "3000\n";
    ServerConfig config;
    config.lobby.stateFolder = folder.string();
    start(config);
    std::filesystem::remove_all(folder);
    auto ann = loggedIn("ann", 1);
    ann->send("GETUSERLIST");
    const auto list = ann->upTo("ENDUSERS");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 3001u + 1u);
    for (int i = 0; i <= 3000; ++i)
        ASSERT_EQ((*list)[i], user(i, i == 1 ? "ann" : "NONE"));
    EXPECT_EQ(list->back(), state(1, "IDLE"));
}

TEST_P(LobbyServerWritesTest, ManyClientsSeeTheSameLobby)
{
    std::vector<std::unique_ptr<ScriptedClient>> clients;
    for (int i = 1; i <= 40; ++i)
        clients.push_back(loggedIn("p" + std::to_string(i), i));
    clients[9]->abort();
    clients[19]->abort();
    ASSERT_TRUE(waitUsers(38));
    auto late = client();
    ASSERT_EQ(late->logIn("late"), 10);
    late->send("GETUSERLIST");
    const auto list = late->upTo("ENDUSERS");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 41u + 39u);
    EXPECT_EQ((*list)[10], user(10, "late"));
    EXPECT_EQ((*list)[20], user(20, "NONE"));
    EXPECT_EQ((*list)[40], user(40, "p40"));
}

} // namespace

namespace {

// Lines a server logs, as the journal would get them (no time stamp, the priority first).
struct LogLines {
    Log log{[this](std::string_view line) { lines.emplace_back(line); }};
    std::vector<std::string> lines;
    LogLines() { log.setJournal(true); }
    // The lines matching a pattern.
    std::vector<std::string> matching(const std::string& pattern) const
    {
        std::vector<std::string> found;
        for (const std::string& line : lines)
            if (std::regex_match(line, std::regex(pattern)))
                found.push_back(line);
        return found;
    }
};

} // namespace

TEST_F(LobbyServerTest, LogLinesNameThePeerAndTheUser)
{
    ServerConfig config;
    config.pingInterval = std::chrono::milliseconds(100);
    config.lobby.verifyEveryTicks = 0;
    start(config);
    LogLines log;
    server->setLog(&log.log);
    const std::string peer = R"(127\.0\.0\.1:\d+)";

    auto ann = client();
    ann->answerAutomatically(true);
    ASSERT_EQ(ann->logIn("ann"), 1);
    EXPECT_THAT(log.matching("<6>" + peer + R"( user "ann" logged in as user 1)"), SizeIs(1));

    // A refused name is named, and a name's codes cannot break the line.
    for (const std::string name : {"ann", "a\nz"}) {
        auto twin = client();
        twin->send(msg("VERSION", {"1"}));
        twin->send(msg("LOGIN", {name, "127.0.0.1"}));
        EXPECT_TRUE(twin->waitClosed());
    }
    EXPECT_THAT(log.matching("<6>" + peer + R"( refused: name in use: "ann")"), SizeIs(1));
    EXPECT_THAT(log.matching("<6>" + peer + R"( refused: unusable name: "a\\x0az")"), SizeIs(1));

    // Who stopped answering, and who left.
    auto bob = client();
    bob->answerAutomatically(true);
    ASSERT_EQ(bob->logIn("bob"), 2);
    bob->answerAutomatically(false);
    EXPECT_TRUE(bob->waitClosed());
    EXPECT_THAT(log.matching("<6>" + peer + R"( user "bob" dropped: no answer)"), SizeIs(1));
    EXPECT_THAT(log.matching("<6>" + peer + R"( left: "bob", user 2)"), SizeIs(1));
    // Connections coming and going are debug lines, below the default level.
    EXPECT_THAT(log.matching(".*connect.*"), IsEmpty());
    for (const std::string& line : log.lines)
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;

    // Outside the journal a line carries its own time and level.
    Log plain([&](std::string_view line) { log.lines.emplace_back(line); });
    plain.setLevel(LogLevel::Warning);
    plain.write(LogLevel::Info, "not shown");
    plain.write(LogLevel::Warning, "shown");
    EXPECT_TRUE(std::regex_match(
        log.lines.back(), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z warning: shown)")))
        << log.lines.back();
    EXPECT_THAT(log.matching(".*not shown"), IsEmpty());
}
