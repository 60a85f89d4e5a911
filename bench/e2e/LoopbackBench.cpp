// The whole client (both windows under the offscreen platform, the real socket adapter) fed by
// a lobby server's recorded byte stream over a real loopback connection, cut into 1,448-byte
// segments and paced as a network delivers them. Reports the processor time of the client's
// thread: per log-in of a full lobby (sent at once, paced like 100 Mbit/s and like 10 Mbit/s),
// and per second of a steady stream of small arrivals.
//
// Run: build/bench/bench_e2e [--quick] [--repeats=N] [--each] [--only=login-once|login-100|
//      login-10|steady-100|steady-full|ping]

#include "LobbyStreams.h"
#include "qt/ClientApp.h"
#include "wire/Encryptor.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace stonecall;
using namespace stonecall::bench;

namespace {

constexpr std::size_t Segment = 1448;

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double wallMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void sleepUntil(double ms)
{
    timespec at{};
    at.tv_sec = static_cast<time_t>(ms / 1e3);
    at.tv_nsec = static_cast<long>((ms - static_cast<double>(at.tv_sec) * 1e3) * 1e6);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
    }
}

// One message of lobby life: games start and end, users join and leave huts, users leave
// and come back, chat.
std::string lifeMessage(std::mt19937& random, int users, int n)
{
    std::uniform_int_distribution<int> pick(1, users);
    const int i = pick(random);
    switch (n % 5) {
    case 0:
        return "USERSTATE" + S + std::to_string(i) + S + "GAMING" + E;
    case 1:
        return "USERSTATE" + S + std::to_string(i) + S + "IDLE" + E;
    case 2:
        return "USERSTATE" + S + std::to_string(i) + S + "CLIENT" + S +
               std::to_string(std::max(10, pick(random) / 10 * 10)) + E;
    case 3:
        return "USER" + S + std::to_string(i) + S + userName(i + n) + S + E;
    default:
        return "MSG" + S + userName(i) + ": " + S +
               EncryptText("a line of chat of ordinary length") + E;
    }
}

// A scripted lobby server on its own thread: answers VERSION, waits for LOGIN, then runs the
// script with the connected socket.
class Server {
public:
    using Script = std::function<void(Server&)>;

    Server()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Server()
    {
        if (thread.joinable())
            thread.join();
        if (peer >= 0)
            ::close(peer);
        ::close(listener);
    }

    void run(Script script, std::function<void()> finished)
    {
        thread = std::thread([this, script = std::move(script), finished = std::move(finished)] {
            peer = ::accept(listener, nullptr, nullptr);
            const int on = 1;
            ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            waitFor("VERSION");
            send("VERSION" + S + "GOOD" + E);
            waitFor("LOGIN");
            script(*this);
            finished();
        });
    }

    void send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t n = ::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            bytes.remove_prefix(static_cast<std::size_t>(n));
            drain();
        }
    }

    // Segments of at most 1,448 bytes, one every `gapMs` (none when 0).
    void sendPaced(const std::string& bytes, double gapMs)
    {
        if (gapMs <= 0) {
            send(bytes);
            return;
        }
        double at = wallMs();
        for (std::size_t from = 0; from < bytes.size(); from += Segment) {
            sleepUntil(at);
            send(std::string_view(bytes).substr(from, Segment));
            at += gapMs;
        }
    }

    // Reads what the client sent until the text has been seen.
    void waitFor(const std::string& text)
    {
        while (received.find(text) == std::string::npos) {
            char buffer[4096];
            const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            received.append(buffer, static_cast<std::size_t>(n));
        }
        received.erase(0, received.find(text) + text.size());
    }

    int port = 0;

private:
    // Takes what the client has sent so far, without waiting.
    void drain()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(peer, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return;
            received.append(buffer, static_cast<std::size_t>(n));
        }
    }

    int listener = -1;
    int peer = -1;
    std::string received;
    std::thread thread;
};

// Minor page faults of the calling thread: first touches of fresh memory, which only a fresh
// process pays for in full.
long threadPageFaults()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt;
}

struct Run {
    double cpuMs = 0;
    double wallMs = 0;
    long pageFaults = 0;
};

// A fresh client logs in to the server and the script runs; returns the client thread's
// processor time from the log-in reply until the script has finished and the windows have
// had 200 ms to settle and paint.
Run runClient(const Server::Script& script, const Server::Script& setup = {})
{
    Server server;
    ClientApp app;
    app.start();
    QCoreApplication::processEvents();
    app.client().ServerHost = "127.0.0.1";
    app.client().ServerPort = server.port;

    QEventLoop loop;
    double cpuAtStart = 0, wallAtStart = 0;
    long faultsAtStart = 0;
    server.run(
        [&](Server& s) {
            if (setup)
                setup(s);
            // The client thread's clock is read on the client thread.
            QMetaObject::invokeMethod(
                &loop,
                [&] {
                    cpuAtStart = threadCpuMs();
                    faultsAtStart = threadPageFaults();
                    wallAtStart = wallMs();
                },
                Qt::BlockingQueuedConnection);
            script(s);
        },
        [&] { QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection); });
    app.client().cmdLogin_Click();
    loop.exec();
    QEventLoop settle;
    QTimer::singleShot(200, &settle, &QEventLoop::quit);
    settle.exec();
    return Run{threadCpuMs() - cpuAtStart, wallMs() - wallAtStart - 200,
               threadPageFaults() - faultsAtStart};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool printEach = false;

void reportLogin(const char* how, double gapMs, int users, int repeats)
{
    const std::string stream = loginStream(users) + "PING" + E;
    std::vector<double> cpu, wall;
    long firstFaults = 0;
    std::string each;
    for (int r = 0; r < repeats; ++r) {
        const Run run = runClient([&](Server& s) {
            s.sendPaced(stream, gapMs);
            s.waitFor("PINGREPLY");
        });
        if (cpu.empty())
            firstFaults = run.pageFaults;
        cpu.push_back(run.cpuMs);
        wall.push_back(run.wallMs);
        char figure[16];
        std::snprintf(figure, sizeof figure, " %.1f", run.cpuMs);
        each += figure;
    }
    // The first log-in of a process is shown apart: it alone pays for fresh memory in full.
    std::printf("login %-22s users=%5d  client CPU ms: median %7.1f  min %7.1f  max %7.1f"
                "  first %7.1f (%ld page faults)   wall to PINGREPLY ms: median %7.1f\n",
                how, users, median(cpu), *std::min_element(cpu.begin(), cpu.end()),
                *std::max_element(cpu.begin(), cpu.end()), cpu.front(), firstFaults, median(wall));
    if (printEach)
        std::printf("  each log-in:%s\n", each.c_str());
    std::fflush(stdout);
}

// After a log-in, `perSecond` arrivals of one message each for `seconds`; prints the client's
// share of one core and its CPU per arrival.
void reportSteady(const char* what, int users, int perSecond, double seconds, bool pingsOnly)
{
    const std::string stream = loginStream(users) + "PING" + E;
    std::mt19937 random(42);
    std::vector<std::string> messages;
    const int count = static_cast<int>(perSecond * seconds);
    for (int n = 0; n < count; ++n)
        messages.push_back(pingsOnly ? "PING" + E : lifeMessage(random, users, n));
    const Run run = runClient(
        [&](Server& s) {
            double at = wallMs();
            const double gap = 1000.0 / perSecond;
            for (const std::string& message : messages) {
                sleepUntil(at);
                s.send(message);
                at += gap;
            }
            s.send("PING" + E);
            s.waitFor("PINGREPLY");
        },
        [&](Server& s) {
            s.send(stream);
            s.waitFor("PINGREPLY");
            // Let the log-in settle before the clock starts.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
    std::printf("steady %-21s users=%5d  %d msg/s for %.0f s: client %5.2f%% of a core, "
                "%7.1f us CPU per arrival\n",
                what, users, perSecond, seconds, 100.0 * run.cpuMs / (run.wallMs + 200),
                1000.0 * run.cpuMs / count);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // --quick: one log-in of each kind and 2 s of each stream; --repeats=N: log-ins of each
    // kind (5); --each: every log-in's figure too; --only=WORD: the case of that name, or else
    // the cases whose name holds the word.
    bool quick = false;
    int repeats = 5;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick")
            quick = true;
        else if (arg == "--each")
            printEach = true;
        else if (arg.rfind("--repeats=", 0) == 0)
            repeats = std::max(1, std::atoi(arg.c_str() + 10));
        else if (arg.rfind("--only=", 0) == 0)
            only = arg.substr(7);
    }
    // A whole case name picks that case alone ("login-10" is not "login-100").
    const std::vector<std::string> names = {"login-once", "login-100",   "login-10",
                                            "steady-100", "steady-full", "ping"};
    const bool exact = std::find(names.begin(), names.end(), only) != names.end();
    const auto wanted = [&](const char* name) {
        return only.empty() ||
               (exact ? only == name : std::string(name).find(only) != std::string::npos);
    };
    if (quick)
        repeats = 1;
    const double seconds = quick ? 2 : 5;
    const int full = 32767;

    // A segment of 1,448 bytes takes 0.116 ms at 100 Mbit/s and 1.158 ms at 10 Mbit/s.
    if (wanted("login-once"))
        reportLogin("sent at once", 0, full, repeats);
    if (wanted("login-100"))
        reportLogin("paced 100 Mbit/s", Segment * 8 / 100e6 * 1e3, full, repeats);
    if (wanted("login-10"))
        reportLogin("paced 10 Mbit/s", Segment * 8 / 10e6 * 1e3, full, repeats);
    if (wanted("steady-100"))
        reportSteady("lobby life", 100, 200, seconds, false);
    if (wanted("steady-full"))
        reportSteady("lobby life", full, 200, seconds, false);
    if (wanted("ping"))
        reportSteady("PING only", full, 200, seconds, true);
    return 0;
}
