// Relayed chat lines into the real lobby window (run with QT_QPA_PLATFORM=offscreen): the cost
// of a line must not depend on how many lines came before it or on how full the log is.

#include "FakeSocket.h"
#include "app/Client.h"
#include "qt/LobbyForm.h"
#include "qt/LoginForm.h"
#include "qt/QtApplication.h"
#include "qt/QtDialogs.h"
#include "roster/ChatLog.h"
#include "wire/Encryptor.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

using namespace stonecall;
using stonecall::testing::FakeSocket;
using Clock = std::chrono::steady_clock;

namespace {

// CPU time of this thread: steadier than the wall clock on a machine shared with builds.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

const std::string S = "\xA4";
const std::string E = "\x06";

struct Lobby {
    Lobby()
    {
        client.LoginForm_Load();
        lobby.show();
        client.cmdLogin_Click();
        ws.raiseConnect();
        ws.sent.clear();
    }

    LoginForm login;
    LobbyForm lobby;
    FakeSocket ws, vlan;
    QtDialogs dialogs;
    QtApplication app;
    Client client{Platform{login, lobby, ws, vlan, dialogs, app}};
};

std::string relayedLine(int n)
{
    return "MSG" + S + "Player_" + std::to_string(n % 97) + ": " + S +
           EncryptText("chat line " + std::to_string(n) + " of ordinary length") + E;
}

// 100,000 MSG lines through the server socket, 100 to an arrival, the window painting
// between arrivals. Reports the CPU time per line over the first and the last 1,000 lines.
void BM_RelayedLines(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    constexpr int PerArrival = 100;
    constexpr int Window = 1000;
    std::vector<std::string> arrivals;
    for (int first = 0; first < lines; first += PerArrival) {
        std::string arrival;
        for (int n = first; n < first + PerArrival; ++n)
            arrival += relayedLine(n);
        arrivals.push_back(std::move(arrival));
    }
    for (auto _ : state) {
        Lobby lobby;
        QCoreApplication::processEvents();
        std::vector<double> arrivalSeconds;
        const auto start = Clock::now();
        for (const std::string& arrival : arrivals) {
            const double before = threadSeconds();
            lobby.ws.deliver(arrival);
            QCoreApplication::processEvents();
            arrivalSeconds.push_back(threadSeconds() - before);
        }
        const double total = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(total);

        double head = 0, tail = 0;
        const std::size_t windowArrivals = Window / PerArrival;
        for (std::size_t i = 0; i < windowArrivals; ++i) {
            head += arrivalSeconds[i];
            tail += arrivalSeconds[arrivalSeconds.size() - 1 - i];
        }
        double cpu = 0;
        for (double seconds : arrivalSeconds)
            cpu += seconds;
        state.counters["cpu_us_per_line_first_1k"] = head / Window * 1e6;
        state.counters["cpu_us_per_line_last_1k"] = tail / Window * 1e6;
        state.counters["cpu_us_per_line_all"] = cpu / lines * 1e6;
        state.counters["wall_us_per_line_all"] = total / lines * 1e6;
        state.counters["log_chars_at_end"] = static_cast<double>(lobby.lobby.chatLength());
    }
}
BENCHMARK(BM_RelayedLines)
    ->Arg(100000)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// One AddLog while the box already holds about `fill` characters, painting after each line
// (from 3000 on, the box is full and scrolls with every line):
// the append must cost the same whatever the fill.
void BM_AddLogAtFill(benchmark::State& state)
{
    const auto fill = static_cast<std::size_t>(state.range(0));
    Lobby lobby;
    ChatLog& chat = lobby.client.chat();
    const std::string line = "Player_1: a chat line of ordinary length, fifty-odd";
    auto refill = [&] {
        lobby.lobby.clearChat();
        while (lobby.lobby.chatLength() + line.size() + 2 <= fill)
            chat.AddLog(line);
        QCoreApplication::processEvents();
    };
    refill();
    for (auto _ : state) {
        chat.AddLog(line);
        QCoreApplication::processEvents();
        const std::size_t now = lobby.lobby.chatLength();
        if (now < fill || now > fill + 10 * (line.size() + 2)) { // emptied, or grown away
            state.PauseTiming();
            refill();
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddLogAtFill)->Arg(0)->Arg(3000)->Arg(8000)->Arg(14000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
