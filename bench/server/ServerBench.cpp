// bench_server: the lobby server against a fan-out reference, at growing lobby sizes, with one
// load generator on one epoll thread. For each server and each size it fills the lobby (the
// server's CPU to log everyone in), reads the server's resident memory while idle, and sends a
// batch of chat lines from one client: the server's CPU per line, and the time from sending to
// the first and to the last recipient. Loopback only; every wait has a time limit and the
// servers are stopped at the end. A broadcast's cost moves from run to run by more than the
// servers differ, so compare them over several rounds (--rounds). Run it on demand, not in CI:
//
//   build/bench/bench_server --lobbyd build/stonecall-lobbyd --rounds 5

#include "LoadGenerator.h"
#include "ServerProcess.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using namespace stonecall::bench;

namespace {

struct Options {
    std::string lobbyd;
    std::vector<std::string> also; // other builds of the lobby, measured in the same rounds
    std::string reference;
    std::vector<int> sizes{1000, 5000, 10000};
    int recipients = 200000; // per batch: at least recipients / size lines, 10 to 200
    double minCpu = 1.0;     // and more lines, up to 1,000, until the server used this much CPU
    int window = 32;
    int rounds = 1;
    double stepTimeout = 1800;
    std::string logDir = "/tmp";
    bool runLobby = true;
    bool runReference = true;
};

struct Row {
    int clients = 0;
    std::optional<double> fillCpu, fillWall; // cumulative from an empty server
    long rssKiB = 0, idleKiB = 0, baseKiB = 0;
    int lines = 0;
    double cpuPerLineMs = 0;
    double firstMedian = 0, firstMax = 0, lastMedian = 0, lastMax = 0;
};

double seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string selfDirectory()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string exe(path, static_cast<std::size_t>(length));
    return exe.substr(0, exe.rfind('/'));
}

std::vector<int> parseSizes(const std::string& text)
{
    std::vector<int> sizes;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        sizes.push_back(std::stoi(text.substr(at, comma - at)));
        at = comma + 1;
    }
    std::sort(sizes.begin(), sizes.end());
    if (sizes.front() < 2 || sizes.back() > 30000)
        throw std::invalid_argument("sizes from 2 to 30000");
    return sizes;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr,
                 "usage: bench_server --lobbyd PATH [--also PATH]... [--reference PATH]\n"
                 "         [--sizes 1000,5000,10000]\n"
                 "         [--recipients 200000] [--min-cpu 1.0] [--window 32]\n"
                 "         [--step-timeout 1800] [--rounds 1]\n"
                 "         [--log-dir /tmp] [--only lobbyd|reference]\n"
                 "  --recipients: messages delivered per batch; a batch has recipients/size\n"
                 "                chat lines, 10 to 200, and then more, up to 1,000, until\n"
                 "                the server used --min-cpu seconds (CPU time comes in ticks)\n"
                 "  --also:       another build of the lobby, run after the first in each\n"
                 "                round (the table calls them also1, also2...)\n"
                 "  --window:     log-ins under way at once\n"
                 "  --rounds:     runs of both servers, one after the other; the table shows\n"
                 "                each row's median round by CPU per line, and every round's\n"
                 "                figure, since a broadcast's cost moves from run to run\n");
    std::exit(2);
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    options.reference = selfDirectory() + "/stonecall-fanout";
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            usage();
        const std::string value = argv[++i];
        if (name == "--lobbyd")
            options.lobbyd = value;
        else if (name == "--also")
            options.also.push_back(value);
        else if (name == "--reference")
            options.reference = value;
        else if (name == "--sizes")
            options.sizes = parseSizes(value);
        else if (name == "--recipients")
            options.recipients = std::stoi(value);
        else if (name == "--min-cpu")
            options.minCpu = std::stod(value);
        else if (name == "--window")
            options.window = std::max(1, std::stoi(value));
        else if (name == "--rounds")
            options.rounds = std::clamp(std::stoi(value), 1, 9);
        else if (name == "--step-timeout")
            options.stepTimeout = std::stod(value);
        else if (name == "--log-dir")
            options.logDir = value;
        else if (name == "--only" && (value == "lobbyd" || value == "reference"))
            (value == "lobbyd" ? options.runReference : options.runLobby) = false;
        else
            usage();
    }
    if (options.runLobby && options.lobbyd.empty())
        usage();
    return options;
}

// Everyone may open as many descriptors as the hard limit allows: the benchmark, and the
// servers it starts, which inherit the limit.
long raiseDescriptorLimit()
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    std::fprintf(stderr, "descriptor limit: soft %llu, hard %llu; raised to the hard limit\n",
                 static_cast<unsigned long long>(files.rlim_cur),
                 static_cast<unsigned long long>(files.rlim_max));
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    return static_cast<long>(files.rlim_cur);
}

// Fills `rows` as sizes are done, so what was measured survives a later failure.
void measure(const Options& options, const std::string& name, const std::string& lobbyd,
             std::vector<Row>& rows)
{
    const bool lobby = !lobbyd.empty();
    const int largest = options.sizes.back();
    const int maxUsers = std::min(largest + 16, 32767);
    const int port = freeLoopbackPort();
    std::vector<std::string> argv;
    if (lobby)
        argv = {lobbyd, "--port", std::to_string(port), "--max-users", std::to_string(maxUsers),
                "--ping-interval", "0",
                // One client sends every line: the chat limit would refuse all but a few.
                "--chat-rate", "0",
                // Stopped with clients still in: no notice to wait for.
                "--shutdown-notice", "0"};
    else
        argv = {options.reference, "--port", std::to_string(port)};
    const char* label = name.c_str();
    mkdir(options.logDir.c_str(), 0755);
    const std::string log = options.logDir + "/bench_server-" + label + ".log";
    std::fprintf(stderr, "%s: starting", label);
    for (const std::string& arg : argv)
        std::fprintf(stderr, " %s", arg.c_str());
    std::fprintf(stderr, " (log %s)\n", log.c_str());

    ServerProcess server(argv, log, port);
    // Once the connection that found it listening is handled and gone, as that touches pages
    // of its own.
    usleep(300 * 1000);
    const long baseKiB = server.residentKiB();
    LoadGenerator clients(lobby ? LoadGenerator::Peer::Lobby : LoadGenerator::Peer::Fanout, port,
                          maxUsers, options.stepTimeout);
    // Stop the server before the clients go, so a lobby does not announce every departure.
    struct StopFirst {
        ServerProcess& server;
        ~StopFirst() { server.stop(); }
    } stopFirst{server};
    double fillCpu = 0, fillWall = 0;
    for (const int size : options.sizes) {
        Row row;
        row.clients = size;
        row.baseKiB = baseKiB;
        const double cpuBefore = server.cpuSeconds();
        const double wallBefore = seconds();
        clients.grow(size, options.window);
        server.checkAlive();
        fillCpu += server.cpuSeconds() - cpuBefore;
        fillWall += seconds() - wallBefore;
        if (lobby) {
            row.fillCpu = fillCpu;
            row.fillWall = fillWall;
            std::fprintf(stderr, "%s: %d users logged in, %.2f s server CPU, %.1f s\n", label, size,
                         fillCpu, fillWall);
        }
        row.rssKiB = server.residentKiB();
        // The lobby gives back what the fill freed once it has been a second without work.
        usleep(2000 * 1000);
        row.idleKiB = server.residentKiB();

        for (int i = 0; i < 3; ++i) // warm-up, not counted
            clients.broadcast();
        const int fewest = std::clamp(options.recipients / size, 10, 200);
        std::vector<double> firsts, lasts;
        const double cpuStart = server.cpuSeconds();
        for (row.lines = 0; row.lines < fewest ||
                            (row.lines < 1000 && server.cpuSeconds() - cpuStart < options.minCpu);
             ++row.lines) {
            const LoadGenerator::Delivery delivery = clients.broadcast();
            firsts.push_back(delivery.firstMs);
            lasts.push_back(delivery.lastMs);
        }
        row.cpuPerLineMs = (server.cpuSeconds() - cpuStart) * 1e3 / row.lines;
        server.checkAlive();
        row.firstMedian = median(firsts);
        row.firstMax = *std::max_element(firsts.begin(), firsts.end());
        row.lastMedian = median(lasts);
        row.lastMax = *std::max_element(lasts.begin(), lasts.end());
        std::fprintf(stderr, "%s: %d clients, %d lines, %.2f ms CPU per line\n", label, size,
                     row.lines, row.cpuPerLineMs);
        rows.push_back(row);
    }
}

struct Measured {
    std::string label;
    std::string lobbyd; // empty: the reference
    bool run;
    std::vector<Row> rows;
};

void printTable(const std::vector<Measured>& servers, const Options& options)
{
    std::printf("\n%-7s %-16s %6s %9s %14s %15s %9s %9s %8s %9s %9s\n", "clients", "server",
                "lines", "CPU/line", "first med/max", "last med/max", "fill CPU", "fill wall",
                "RSS", "RSS/conn", "idle/conn");
    std::printf("%-7s %-16s %6s %9s %14s %15s %9s %9s %8s %9s %9s\n", "", "", "", "ms", "ms", "ms",
                "s", "s", "MiB", "KiB", "KiB");
    for (const int size : options.sizes) {
        for (const Measured& server : servers) {
            if (!server.run)
                continue;
            const std::vector<Row>* rows = &server.rows;
            // This size's rows of every round, by CPU per line; the median one stands for them.
            std::vector<const Row*> rounds;
            for (const Row& r : *rows)
                if (r.clients == size)
                    rounds.push_back(&r);
            std::sort(rounds.begin(), rounds.end(),
                      [](const Row* a, const Row* b) { return a->cpuPerLineMs < b->cpuPerLineMs; });
            const char* label = server.label.c_str();
            if (rounds.empty()) {
                std::printf("%-7d %-16s %s\n", size, label, "(not measured)");
                continue;
            }
            const Row* row = rounds[rounds.size() / 2];
            char first[32], last[32], fillCpu[16] = "-", fillWall[16] = "-";
            std::snprintf(first, sizeof first, "%.2f/%.2f", row->firstMedian, row->firstMax);
            std::snprintf(last, sizeof last, "%.1f/%.1f", row->lastMedian, row->lastMax);
            if (row->fillCpu) {
                std::snprintf(fillCpu, sizeof fillCpu, "%.2f", *row->fillCpu);
                std::snprintf(fillWall, sizeof fillWall, "%.1f", *row->fillWall);
            }
            std::printf("%-7d %-16s %6d %9.2f %14s %15s %9s %9s %8.1f %9.2f %9.2f\n", size, label,
                        row->lines, row->cpuPerLineMs, first, last, fillCpu, fillWall,
                        static_cast<double>(row->rssKiB) / 1024.0,
                        static_cast<double>(row->rssKiB - row->baseKiB) / size,
                        static_cast<double>(row->idleKiB - row->baseKiB) / size);
            if (rounds.size() > 1) {
                std::printf("%-7s %-16s %6s", "", "", "rounds");
                for (const Row* r : rounds)
                    std::printf(" %.2f", r->cpuPerLineMs);
                std::printf("\n");
            }
        }
    }
    std::printf(
        "\nCPU/line: server user+system time over the batch / lines. first, last: from sending\n"
        "the line to the kernel's arrival stamp at the first and at the last recipient (the\n"
        "sender's own copy not counted), median and worst of the batch; wall times, so the\n"
        "machine's load shows in them. fill: server CPU and wall time to log in\n"
        "that many users from an empty lobby (VERSION, LOGIN, GETUSERLIST each, until every\n"
        "client has heard of every user). RSS: VmRSS right after the fill; RSS/conn: its growth\n"
        "over the freshly started server, per connection; idle/conn: the same after 2 s without\n"
        "traffic (the lobby gives back what the fill freed after 1 s idle).\n");
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    const long limit = raiseDescriptorLimit();
    if (options.sizes.back() + 64 > limit) {
        std::fprintf(stderr, "bench_server: %d clients need more than %ld descriptors\n",
                     options.sizes.back(), limit);
        return 1;
    }
    const std::string loadBefore = loadAverage();
    const double start = seconds();
    std::vector<Measured> servers{{"stonecall-lobbyd", options.lobbyd, options.runLobby, {}}};
    for (std::size_t i = 0; i < options.also.size(); ++i)
        servers.push_back({"also" + std::to_string(i + 1), options.also[i], options.runLobby, {}});
    servers.push_back({"reference", {}, options.runReference, {}});
    bool ok = true;
    for (int round = 0; round < options.rounds; ++round) {
        for (Measured& server : servers) {
            if (!server.run)
                continue;
            try {
                measure(options, server.label, server.lobbyd, server.rows);
            } catch (const std::exception& error) {
                std::fprintf(stderr, "bench_server: %s: %s\n", server.label.c_str(), error.what());
                ok = false;
            }
        }
    }
    printTable(servers, options);
    rusage self{};
    getrusage(RUSAGE_SELF, &self);
    std::printf("\n%ld CPUs online; load average before %s, after %s; %.0f s in all; load "
                "generator CPU %.1f s\n",
                sysconf(_SC_NPROCESSORS_ONLN), loadBefore.c_str(), loadAverage().c_str(),
                seconds() - start,
                static_cast<double>(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
                    static_cast<double>(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6);
    return ok ? 0 : 1;
}
