// Server byte streams fed through WSClient_DataArrival into the real windows (run with
// QT_QPA_PLATFORM=offscreen): a whole log-in, and a steady stream in a full lobby.

#include "FakeSocket.h"
#include "app/Client.h"
#include "qt/LobbyForm.h"
#include "qt/LoginForm.h"
#include "qt/QtApplication.h"
#include "qt/QtDialogs.h"
#include "qt/QtTreeView.h"
#include "wire/Encryptor.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>

using namespace stonecall;
using stonecall::testing::FakeSocket;

namespace {

const std::string S = "\xA4";
const std::string E = "\x06";

std::string userName(int i)
{
    return "Player_" + std::to_string((i * 7919) % 100003);
}

// What a lobby server sends for a log-in to a lobby of `users` users, from LOGIN to the end of
// the message of the day: the user list, every user's state (every tenth a host of a 4-player
// hut, the next two its members, every seventh playing), then 20 lines of the day.
std::string loginStream(int users)
{
    std::string stream = "LOGIN" + S + "1" + E;
    stream += "USER" + S + "0" + S + "NONE" + S + E;
    for (int i = 1; i <= users; ++i)
        stream += "USER" + S + std::to_string(i) + S + userName(i) + S + E;
    for (int i = 1; i <= users; ++i) {
        stream += "USERSTATE" + S + std::to_string(i) + S;
        if (i % 10 == 0)
            stream += "HOST" + S + "4" + S + (i % 20 == 0 ? "NONE" : "pw") + E;
        else if (i % 10 <= 2 && i > 10)
            stream += "CLIENT" + S + std::to_string(i - i % 10) + S + std::to_string(i % 10) + E;
        else if (i % 7 == 0)
            stream += "GAMING" + E;
        else
            stream += "IDLE" + E;
    }
    stream += "ENDUSERS" + E;
    for (int line = 0; line < 20; ++line)
        stream += "MOTDLINE" + S +
                  EncryptText("Line " + std::to_string(line) + " of the message of the day") + E;
    return stream;
}

struct Lobby {
    Lobby()
    {
        client.LoginForm_Load();
        login.show();
        login.usrName()->setText("Bench");
        client.cmdLogin_Click();
        ws.raiseConnect();
    }
    // One arrival, and the end of the frame after it: the trees tell their views.
    void feed(const std::string& bytes)
    {
        ws.deliver(bytes);
        ws.sent.clear();
        lobby.lstHutsView().settle();
        lobby.LstUSersView().settle();
    }

    LoginForm login;
    LobbyForm lobby;
    FakeSocket ws, vlan;
    QtDialogs dialogs;
    QtApplication app;
    Client client{Platform{login, lobby, ws, vlan, dialogs, app}};
};

void BM_LoginIntoRealWindows(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    const std::string stream = loginStream(users);
    for (auto _ : state) {
        state.PauseTiming();
        auto lobby = std::make_unique<Lobby>();
        QCoreApplication::processEvents();
        state.ResumeTiming();
        lobby->feed(stream);
        QCoreApplication::processEvents(); // the windows lay out and paint what arrived
        state.PauseTiming();
        if (lobby->client.session().Users.MaxUserIndex() != users)
            state.SkipWithError("the log-in did not arrive");
        lobby.reset();
        state.ResumeTiming();
    }
    state.counters["users"] = users;
}
BENCHMARK(BM_LoginIntoRealWindows)
    ->Arg(1000)
    ->Arg(32767)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// After a log-in of `users` users, arrivals of 100 messages each: state changes (joining and
// leaving huts, games starting), users leaving and coming back, chat lines.
void BM_SteadyStream(benchmark::State& state)
{
    const int users = static_cast<int>(state.range(0));
    Lobby lobby;
    lobby.feed(loginStream(users));
    QCoreApplication::processEvents();
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pick(1, users);
    const std::string chat = EncryptText("a line of chat of ordinary length");
    std::int64_t messages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::string arrival;
        for (int m = 0; m < 100; ++m) {
            const int i = pick(random);
            switch (m % 5) {
            case 0:
                arrival += "USERSTATE" + S + std::to_string(i) + S + "GAMING" + E;
                break;
            case 1:
                arrival += "USERSTATE" + S + std::to_string(i) + S + "IDLE" + E;
                break;
            case 2:
                arrival += "USERSTATE" + S + std::to_string(i) + S + "CLIENT" + S +
                           std::to_string(pick(random) / 10 * 10 + 10) + E;
                break;
            case 3:
                arrival += "USER" + S + std::to_string(i) + S + userName(i + m) + S + E;
                break;
            default:
                arrival += "MSG" + S + userName(i) + ": " + S + chat + E;
                break;
            }
        }
        state.ResumeTiming();
        lobby.feed(arrival);
        QCoreApplication::processEvents();
        messages += 100;
    }
    state.SetItemsProcessed(messages);
}
BENCHMARK(BM_SteadyStream)->Arg(32767)->Unit(benchmark::kMicrosecond);

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
