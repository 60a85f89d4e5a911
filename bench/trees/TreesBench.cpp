// The cost of one USER and one USERSTATE message for the two trees, by the lobby's size:
// over a tree that only keeps keys (the builders' own cost), and over the in-memory tree
// that keeps every group sorted (what a sorted tree adds as it grows).

#include "FakeTreeView.h"
#include "KeyOnlyTree.h"
#include "LiteralTrees.h"
#include "LobbyTraffic.h"
#include "huts/HutList.h"
#include "roster/UserList.h"

#include <benchmark/benchmark.h>
#include <memory>

using namespace stonecall;

namespace {

template <typename Tree> struct Lobby {
    UserTable users;
    Tree userTree;
    Tree hutTree;
    UserList list{users, userTree};
    HutList huts{users, hutTree};
    bench::Updates updates{[this](std::int32_t i) {
                               list.entryChanged(i);
                               huts.entryChanged(i);
                           },
                           [this] { list.UpdateUserList(); }, [this] { huts.ConstructHuts(); }};
};

template <typename Tree> void BM_User(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Lobby<Tree> lobby;
    bench::login(lobby.users, lobby.updates, count);
    bench::Traffic traffic(lobby.users, lobby.updates, count);
    for (auto _ : state)
        traffic.nextUser();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_User<bench::KeyOnlyTree>)->Arg(100)->Arg(1000)->Arg(32767);
BENCHMARK(BM_User<FakeTreeView>)->Arg(100)->Arg(1000)->Arg(32767);

template <typename Tree> void BM_UserState(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    Lobby<Tree> lobby;
    bench::login(lobby.users, lobby.updates, count);
    bench::Traffic traffic(lobby.users, lobby.updates, count);
    for (auto _ : state)
        traffic.nextUserState();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UserState<bench::KeyOnlyTree>)->Arg(100)->Arg(1000)->Arg(32767);
BENCHMARK(BM_UserState<FakeTreeView>)->Arg(100)->Arg(1000)->Arg(32767);

// A whole log-in: every USER, then every USERSTATE, each followed by its updates.
template <typename Tree> void BM_Login(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto lobby = std::make_unique<Lobby<Tree>>();
        state.ResumeTiming();
        bench::login(lobby->users, lobby->updates, count);
        state.PauseTiming();
        if (lobby->userTree.count() != static_cast<std::size_t>(count) + 2)
            state.SkipWithError("not every user is listed");
        lobby.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Login<bench::KeyOnlyTree>)->Arg(32767)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Login<FakeTreeView>)->Arg(32767)->Unit(benchmark::kMillisecond);

// For scale: the same messages through the straightforward builders, which walk every node
// for every user on every update.
struct LiteralLobby {
    UserTable users;
    FakeTreeView userTree;
    FakeTreeView hutTree;
    LiteralUserList list{users, userTree};
    LiteralHutList huts{users, hutTree};
    bench::Updates updates{[](std::int32_t) {}, [this] { list.UpdateUserList(); },
                           [this] { huts.ConstructHuts(); }};
};

void BM_LiteralUser(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    LiteralLobby lobby;
    bench::login(lobby.users, lobby.updates, count);
    bench::Traffic traffic(lobby.users, lobby.updates, count);
    for (auto _ : state)
        traffic.nextUser();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LiteralUser)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_LiteralUserState(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    LiteralLobby lobby;
    bench::login(lobby.users, lobby.updates, count);
    bench::Traffic traffic(lobby.users, lobby.updates, count);
    for (auto _ : state)
        traffic.nextUserState();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LiteralUserState)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
