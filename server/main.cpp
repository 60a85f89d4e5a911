// stonecall-lobbyd: the lobby server the Stonecall client logs in to.

#include "LobbyServer.h"
#include "Motd.h"
#include "OpenFiles.h"

#include <asio/signal_set.hpp>

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

using namespace stonecall::server;

namespace {

struct Option {
    const char* name;
    const char* value; // the value's name in the help
    const char* help;
};

constexpr Option Options[] = {
    {"port", "port",
     "TCP port to listen on, on every address; 0 picks a free one (default 13511)."},
    {"motd", "file",
     "Message of the day: a text file, one line per line shown (default: a short greeting)."},
    {"ping-interval", "seconds", "Seconds between pings; 0 turns pings off (default 30)."},
    {"max-users", "count", "Most users logged in at once, 1 to 32767 (default 1000)."},
};

void printHelp()
{
    std::printf("Usage: stonecall-lobbyd [options]\n"
                "Lobby server for the Stonecall client. SIGTERM or SIGINT stops it; SIGUSR1 "
                "logs a status line (users, connections, memory).\n\n"
                "Options:\n"
                "  -h, --help                  Displays help on commandline options.\n"
                "  --help-all                  Displays the same help.\n");
    for (const Option& option : Options) {
        const std::string left = std::string("--") + option.name + " <" + option.value + ">";
        std::printf("  %-26s  %s\n", left.c_str(), option.help);
    }
}

// The options given, by name; nothing when the command line cannot be read (said on stderr)
// or help was asked for (exitCode says which).
std::optional<std::map<std::string, std::string>> parse(int argc, char** argv, int& exitCode)
{
    std::map<std::string, std::string> values;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            if (i + 1 < argc) {
                std::fprintf(stderr, "stonecall-lobbyd: unexpected argument %s\n", argv[i + 1]);
                exitCode = 2;
                return std::nullopt;
            }
            break;
        }
        if (arg == "-h" || arg == "--help" || arg == "--help-all") {
            printHelp();
            exitCode = 0;
            return std::nullopt;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            std::fprintf(stderr, "stonecall-lobbyd: unexpected argument %s\n", argv[i]);
            exitCode = 2;
            return std::nullopt;
        }
        std::string_view name = arg.substr(arg.rfind("--", 0) == 0 ? 2 : 1);
        std::optional<std::string> value;
        if (const auto equals = name.find('='); equals != std::string_view::npos) {
            value = std::string(name.substr(equals + 1));
            name = name.substr(0, equals);
        }
        bool known = false;
        for (const Option& option : Options)
            known = known || (arg.rfind("--", 0) == 0 && name == option.name);
        if (!known) {
            std::fprintf(stderr, "Unknown option '%.*s'.\n", static_cast<int>(name.size()),
                         name.data());
            exitCode = 1;
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "Missing value after '%s'.\n", argv[i]);
                exitCode = 1;
                return std::nullopt;
            }
            value = argv[++i];
        }
        values[std::string(name)] = *value;
    }
    return values;
}

std::optional<long> numberOption(const std::map<std::string, std::string>& values,
                                 const std::string& name, long fallback, long low, long high)
{
    const auto it = values.find(name);
    if (it == values.end())
        return fallback;
    const std::string& text = it->second;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    // Blanks around the number are allowed, as before; nothing else is.
    while (end && *end == ' ')
        ++end;
    if (text.empty() || errno != 0 || !end || *end != '\0' || value < low || value > high) {
        std::fprintf(stderr, "stonecall-lobbyd: --%s takes a whole number from %ld to %ld\n",
                     name.c_str(), low, high);
        return std::nullopt;
    }
    return value;
}

// The operator's view of the server's load and memory.
std::string statusLine(const LobbyServer& server)
{
    const struct mallinfo2 heap = mallinfo2();
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    const Lobby& lobby = server.lobby();
    return "status: " + std::to_string(lobby.userCount()) + " users, " +
           std::to_string(lobby.connectionCount()) + " connections, output waiting " +
           std::to_string(server.queuedBytes() / 1024) + " KiB, heap in use " +
           std::to_string((heap.uordblks + heap.hblkhd) / 1024) + " KiB of " +
           std::to_string((heap.arena + heap.hblkhd) / 1024) + " KiB taken, resident " +
           std::to_string(resident * sysconf(_SC_PAGESIZE) / 1024) + " KiB";
}

void log(std::string_view line)
{
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

} // namespace

int main(int argc, char** argv)
{
    int exitCode = 0;
    const auto values = parse(argc, argv, exitCode);
    if (!values)
        return exitCode;

    const auto port = numberOption(*values, "port", 13511, 0, 65535);
    const auto ping = numberOption(*values, "ping-interval", 30, 0, 86400);
    const auto maxUsers = numberOption(*values, "max-users", 1000, 1, MaxUsersLimit);
    if (!port || !ping || !maxUsers)
        return 2;

    ServerConfig config;
    config.pingInterval = std::chrono::seconds(*ping);
    config.lobby.maxUsers = static_cast<int>(*maxUsers);
    config.lobby.motd = defaultMotd();
    if (const auto motd = values->find("motd"); motd != values->end()) {
        FILE* file = std::fopen(motd->second.c_str(), "rb");
        if (!file) {
            std::fprintf(stderr, "stonecall-lobbyd: cannot read %s: %s\n", motd->second.c_str(),
                         std::strerror(errno));
            return 1;
        }
        // Read no more than the longest message of the day can use.
        std::string text(MaxMotdLines * (MaxMotdLineLength + 2), '\0');
        text.resize(std::fread(text.data(), 1, text.size(), file));
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed) {
            std::fprintf(stderr, "stonecall-lobbyd: cannot read %s\n", motd->second.c_str());
            return 1;
        }
        config.lobby.motd = motdFromText(text);
    }

    std::signal(SIGPIPE, SIG_IGN); // a peer gone mid-write is handled as a lost connection
    // A descriptor for each user, for those still logging in, and a few of the server's own.
    log(raiseOpenFileLimit(static_cast<std::size_t>(*maxUsers) + 64 + 16));

    LobbyServer server(config);
    server.setLog(log);
    // SIGTERM and SIGINT end the loop, so the server closes its sockets and frees what it
    // holds on the way out (and a leak checker gets its say); SIGUSR1 asks for a status line.
    asio::signal_set signals(server.context(), SIGTERM, SIGINT, SIGUSR1);
    std::function<void(const std::error_code&, int)> onSignal = [&](const std::error_code& error,
                                                                    int number) {
        if (error)
            return;
        if (number != SIGUSR1) {
            server.stop();
            return;
        }
        log(statusLine(server));
        signals.async_wait(onSignal);
    };
    signals.async_wait(onSignal);

    if (!server.listen({}, static_cast<std::uint16_t>(*port))) {
        std::fprintf(stderr, "stonecall-lobbyd: cannot listen on port %ld: %s\n", *port,
                     server.errorString().c_str());
        return 1;
    }
    std::printf("stonecall-lobbyd listening on port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    server.run();
    return 0;
}
