// The real stonecall-lobbyd against idle sockets from several loopback addresses, and the
// reason a refused player reads before the close.

#include "LobbydProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace stonecall::test;

namespace {

// A socket from `source` (a loopback address) that connects and then says nothing.
int idleFrom(const std::string& source, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads what has come; false once the server has closed the socket.
bool stillOpen(int fd, std::string* got = nullptr)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (got)
                got->append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Twelve addresses keep eight silent sockets each open, opening a new one for each the
// server lets go, while honest players log in one after another.
int honestLogInsAmongIdleSockets(const std::vector<std::string>& options, int players)
{
    Lobbyd server(options);
    std::vector<std::pair<std::string, int>> idle;
    for (int a = 0; a < 12; ++a)
        for (int i = 0; i < 8; ++i) {
            const std::string source = "127.0.1." + std::to_string(a + 1);
            idle.emplace_back(source, idleFrom(source, server.port()));
        }
    const auto topUp = [&] {
        for (auto& [source, fd] : idle)
            if (fd < 0 || !stillOpen(fd)) {
                if (fd >= 0)
                    close(fd);
                fd = idleFrom(source, server.port());
            }
    };
    Crowd crowd(server.port());
    int in = 0;
    for (int p = 0; p < players; ++p) {
        topUp();
        bool entered = false;
        enterAs(crowd, "player" + std::to_string(p), entered);
        in += entered ? 1 : 0;
        crowd.shut(crowd.size() - 1);
    }
    for (auto& entry : idle)
        if (entry.second >= 0)
            close(entry.second);
    return in;
}

TEST(LobbydAdmission, IdleSocketsFromManyAddressesDoNotLockHonestPlayersOut)
{
    // All peers are loopback here, so the per-address limits are switched on for them; the
    // room left for log-ins (max-users and 64) is smaller than the 96 idle sockets.
    const std::vector<std::string> base = {"--ping-interval",     "0", "--max-users", "8",
                                           "--logins-per-minute", "0"};
    std::vector<std::string> limited = base;
    limited.insert(limited.end(), {"--limit-loopback", "true", "--pending-per-address", "4"});
    EXPECT_EQ(honestLogInsAmongIdleSockets(limited, 20), 20);
    // Without the per-address cap the room fills, and the oldest idle socket makes way.
    EXPECT_EQ(honestLogInsAmongIdleSockets(base, 20), 20);
}

TEST(LobbydAdmission, SilentSocketsGoAtTheLogInDeadlineWithoutPingsAndAreTold)
{
    Lobbyd server({"--ping-interval", "0", "--login-deadline", "1"});
    const int fd = idleFrom("127.0.2.1", server.port());
    ASSERT_GE(fd, 0);
    std::string got;
    const auto start = std::chrono::steady_clock::now();
    while (stillOpen(fd, &got) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    close(fd);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_NE(got.find("Disconnected: no log-in in the time allowed."), std::string::npos) << got;
}

TEST(LobbydAdmission, ARefusedPlayerReadsWhyBeforeTheClose)
{
    Lobbyd server({"--ping-interval", "0", "--max-users", "2"});
    Crowd crowd(server.port());
    enter(crowd, "ann");
    const auto refusal = [&](const std::string& name) {
        bool in = true;
        const std::size_t i = enterAs(crowd, name, in);
        EXPECT_FALSE(in) << name;
        return crowd[i].inbox.empty() ? Message() : Message(crowd[i].inbox.back());
    };
    const auto notice = [](std::string_view text) { return msg("PUBMSG", {"*lobby*: ", text}); };
    EXPECT_EQ(refusal("ANN"), notice("Log-in refused: that name is in use. Choose another."));
    EXPECT_EQ(refusal("127.77.0.5"),
              notice("Log-in refused: a name may not read as a network address. Choose another."));
    enter(crowd, "bob");
    EXPECT_EQ(refusal("cid"), notice("Log-in refused: the lobby is full. Try again later."));
}

} // namespace
