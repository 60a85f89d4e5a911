// The two trees in real Qt widgets (run with QT_QPA_PLATFORM=offscreen): a whole log-in in
// one arrival, and arrivals of one message each in a full lobby. The views are told of each
// arrival's changes at its end, as the end of a frame would, and lay out and paint then.

#include "LobbyTraffic.h"
#include "huts/HutList.h"
#include "qt/QtTreeView.h"
#include "roster/UserList.h"

#include <QApplication>
#include <QWidget>
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

using namespace stonecall;

namespace {

struct QtLobby {
    QtLobby()
    {
        window.resize(900, 600);
        hutTree.view()->setGeometry(8, 8, 130, 580);
        userTree.view()->setGeometry(760, 8, 130, 580);
        window.show();
        QCoreApplication::processEvents();
    }
    void endArrival()
    {
        userTree.settle();
        hutTree.settle();
    }

    QWidget window;
    QtTreeView hutTree{&window};
    QtTreeView userTree{&window};
    UserTable users;
    UserList list{users, userTree};
    HutList huts{users, hutTree};
    bench::Updates updates{[this](std::int32_t i) {
                               list.entryChanged(i);
                               huts.entryChanged(i);
                           },
                           [this] { list.UpdateUserList(); }, [this] { huts.ConstructHuts(); }};
};

// Processor time of this thread: the machine may be shared, and waiting is not our cost.
double cpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void BM_QtLogin(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    double naming = 0, placing = 0, ending = 0, showing = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto lobby = std::make_unique<QtLobby>();
        state.ResumeTiming();
        double start = cpuMs();
        bench::loginUsers(lobby->users, lobby->updates, count);
        naming += cpuMs() - start;
        start = cpuMs();
        bench::loginStates(lobby->users, lobby->updates, count);
        placing += cpuMs() - start;
        start = cpuMs();
        lobby->endArrival();
        ending += cpuMs() - start;
        start = cpuMs();
        QCoreApplication::processEvents();
        showing += cpuMs() - start;
        state.PauseTiming();
        if (lobby->userTree.count() != static_cast<std::size_t>(count) + 2)
            state.SkipWithError("not every user is listed");
        lobby.reset();
        state.ResumeTiming();
    }
    const auto n = static_cast<double>(state.iterations());
    // Processor milliseconds of each step.
    state.counters["USER_ms"] = naming / n;
    state.counters["USERSTATE_ms"] = placing / n;
    state.counters["end_ms"] = ending / n;
    state.counters["paint_ms"] = showing / n;
}
BENCHMARK(BM_QtLogin)->Arg(1000)->Arg(32767)->Unit(benchmark::kMillisecond)->Iterations(5);

template <void (bench::Traffic::*next)()> void oneMessageArrivals(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    QtLobby lobby;
    bench::login(lobby.users, lobby.updates, count);
    lobby.endArrival();
    QCoreApplication::processEvents();
    bench::Traffic traffic(lobby.users, lobby.updates, count);
    for (auto _ : state) {
        (traffic.*next)();
        lobby.endArrival();
        QCoreApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_QtUser(benchmark::State& state)
{
    oneMessageArrivals<&bench::Traffic::nextUser>(state);
}
BENCHMARK(BM_QtUser)->Arg(100)->Arg(1000)->Arg(32767)->Unit(benchmark::kMicrosecond);

void BM_QtUserState(benchmark::State& state)
{
    oneMessageArrivals<&bench::Traffic::nextUserState>(state);
}
BENCHMARK(BM_QtUserState)->Arg(100)->Arg(1000)->Arg(32767)->Unit(benchmark::kMicrosecond);

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
