// bench_lobbyd_bursts: the real stonecall-lobbyd against one user's burst while everyone else
// reads promptly, with the figures the process tests only bound loosely.
//
// chat burst:      `readers` users; one sends `lines` empty chat lines in one write, each a
//                  72-byte line to everyone. The time until every reader has all of them, the
//                  server's CPU for it, its peak resident memory, and its heap in use before
//                  and after (the queues must be given back).
// user-list burst: `users` users; one asks for the user list `requests` times in one write,
//                  and another asks to be idle, `rounds` times, waiting each time for the
//                  answer: its round trip quiet (before the burst) and under the burst.
//
// Loopback only, every wait has a deadline, the server is stopped at the end. Figures on a
// shared machine move from run to run: compare them within one run (--rounds).
//
//   build/bench/bench_lobbyd_bursts --repeat 3

#include "LobbydProcess.h"

#include <CLI/CLI.hpp>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace stonecall::test;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int readers = 400;
    int lines = 3700;
    int users = 2000;
    int requests = 5400;
    int rounds = 40;
    int repeat = 1;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool chatBurst(const Options& options)
{
    Lobbyd server({"--ping-interval", "0", "--chat-rate", "0", "--max-users",
                   std::to_string(options.readers + 10)});
    Crowd crowd(server.port());
    if (!server.port() || !logInAll(crowd, options.readers, "reader")) {
        std::fprintf(stderr, "chat burst: the readers did not all log in\n");
        return false;
    }
    // The longest name makes the longest line.
    const std::size_t attacker = crowd.open(hello(std::string(64, 'a')));
    std::vector<bool> deaf(crowd.size(), false);
    deaf[attacker] = true;
    const std::string joined = "USERSTATE\xA4" + std::to_string(options.readers + 1) + "\xA4";
    std::size_t heard = 0;
    crowd.onMessage([&](std::size_t, std::string_view m) {
        if (m.starts_with(joined))
            ++heard;
    });
    if (!crowd.until([&] { return heard == static_cast<std::size_t>(options.readers); }, 60,
                     &deaf)) {
        std::fprintf(stderr, "chat burst: not everyone heard of the sender\n");
        return false;
    }
    const long idleHeap = server.heapInUseKiB();

    std::vector<int> got(crowd.size(), 0);
    int done = 0;
    crowd.onMessage([&](std::size_t i, std::string_view m) {
        if (m.starts_with("MSG\xA4") && ++got[i] == options.lines)
            ++done;
    });
    std::string burst;
    for (int i = 0; i < options.lines; ++i)
        burst += framed(msg("SENDMSG", {""}));
    const double cpuBefore = server.cpuSeconds();
    const auto sent = Clock::now();
    crowd.send(attacker, burst);
    const bool all = crowd.until([&] { return done == options.readers; }, 300, &deaf);
    const double wallMs = since(sent);
    const double cpuMs = (server.cpuSeconds() - cpuBefore) * 1e3;
    int dropped = 0;
    for (int i = 0; i < options.readers; ++i)
        dropped += crowd[static_cast<std::size_t>(i)].closed ? 1 : 0;
    const long peakKiB = server.memoryKiB("VmHWM");
    const long afterHeap = server.heapInUseKiB();
    std::printf("chat burst      %5d readers %5d lines: %s in %8.1f ms, server CPU %8.1f ms, "
                "%d dropped; peak RSS %6.1f MiB, heap in use %6ld KiB before, %6ld KiB after\n",
                options.readers, options.lines, all ? "all read" : "NOT ALL READ", wallMs, cpuMs,
                dropped, static_cast<double>(peakKiB) / 1024.0, idleHeap, afterHeap);
    return all;
}

bool userListBurst(const Options& options)
{
    Lobbyd server({"--ping-interval", "0", "--max-users", std::to_string(options.users + 100)});
    Crowd crowd(server.port());
    if (!server.port() || !logInAll(crowd, options.users, "u")) {
        std::fprintf(stderr, "user-list burst: the users did not all log in\n");
        return false;
    }
    const std::size_t attacker = 0, polite = 1;
    bool answered = false;
    crowd.onMessage([&](std::size_t i, std::string_view m) {
        if (i == polite && m.starts_with("USERSTATE\xA4"))
            answered = true;
    });
    // A request only its sender hears of: an idle user asking to be idle.
    const auto roundTrips = [&](std::vector<double>& ms) {
        for (int round = 0; round < options.rounds; ++round) {
            answered = false;
            const auto sent = Clock::now();
            crowd.send(polite, framed(msg("BEIDLE")));
            if (!crowd.until([&] { return answered; }, 10))
                return false;
            ms.push_back(since(sent));
            crowd.pump(5);
        }
        return true;
    };
    std::vector<double> quiet, loaded;
    if (!roundTrips(quiet))
        return false;
    std::string burst;
    for (int i = 0; i < options.requests; ++i)
        burst += framed(msg("GETUSERLIST"));
    const double cpuBefore = server.cpuSeconds();
    crowd.send(attacker, burst);
    const bool all = roundTrips(loaded);
    const double cpuMs = (server.cpuSeconds() - cpuBefore) * 1e3;
    std::printf("user-list burst %5d users %6d requests: round trip quiet %6.2f/%6.2f ms, "
                "under the burst %6.2f/%6.2f ms (median/worst of %d)%s; server CPU %8.1f ms; "
                "the sender %s\n",
                options.users, options.requests, median(quiet),
                *std::max_element(quiet.begin(), quiet.end()), median(loaded),
                loaded.empty() ? 0 : *std::max_element(loaded.begin(), loaded.end()),
                options.rounds, all ? "" : " NOT ALL ANSWERED", cpuMs,
                crowd[attacker].closed ? "was dropped" : "stays");
    return all;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    CLI::App app{"The lobby server under one user's chat and user-list bursts."};
    app.add_option("--readers", options.readers, "users reading the chat burst")
        ->check(CLI::Range(1, 30000));
    app.add_option("--lines", options.lines, "empty chat lines in the burst")
        ->check(CLI::Range(1, 100000));
    app.add_option("--users", options.users, "users in the user-list burst")
        ->check(CLI::Range(2, 30000));
    app.add_option("--requests", options.requests, "user-list requests in the burst")
        ->check(CLI::Range(1, 100000));
    app.add_option("--rounds", options.rounds, "round trips measured, quiet and under the burst")
        ->check(CLI::Range(1, 10000));
    app.add_option("--repeat", options.repeat, "runs of both bursts, one after the other")
        ->check(CLI::Range(1, 100));
    CLI11_PARSE(app, argc, argv);

    // A socket for every user in this process too.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    const rlim_t needed = static_cast<rlim_t>(std::max(options.readers, options.users)) + 100;
    if (files.rlim_cur < needed) {
        std::fprintf(stderr, "this process may open only %llu files, %llu wanted\n",
                     static_cast<unsigned long long>(files.rlim_cur),
                     static_cast<unsigned long long>(needed));
        return 1;
    }
    bool good = true;
    for (int i = 0; i < options.repeat; ++i) {
        good = chatBurst(options) && good;
        good = userListBurst(options) && good;
    }
    return good ? 0 : 1;
}
