// stonecall-lobbyd: the lobby server the Stonecall client logs in to.

#include "Config.h"
#include "Control.h"
#include "ControlSocket.h"
#include "LobbyServer.h"
#include "Log.h"
#include "OpenFiles.h"
#include "Stats.h"

#include <CLI/CLI.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

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
#include <variant>
#include <vector>

using namespace stonecall::server;

namespace {

// The options given, by name; nothing when the command line cannot be read (said on stderr)
// or help or the version was asked for (exitCode says which: 0, 1 for an unknown option or a
// missing value, 2 for an argument that is no option).
std::optional<OptionValues> parse(int argc, char** argv, int& exitCode)
{
    CLI::App app("Lobby server for the Stonecall client. SIGTERM or SIGINT tells the players and "
                 "stops it after shutdown-notice seconds (a second one at once); SIGUSR1 logs a "
                 "status line (users, connections, memory); SIGHUP reloads the configuration "
                 "file and the message of the day. Operators kick, ban, mute and send notices "
                 "with stonecall-lobbyctl through the control socket.",
                 "stonecall-lobbyd");
    app.set_help_flag("-h,--help", "Displays help on commandline options.");
    app.set_help_all_flag("--help-all", "Displays the same help.");
    app.set_version_flag("-v,--version", std::string("stonecall-lobbyd ") + STONECALL_VERSION,
                         "Displays version information.");
    std::map<std::string, std::string> given;
    for (const OptionInfo& option : optionInfos())
        app.add_option(std::string("--") + option.name, given[option.name], option.help)
            ->type_name(std::string("<") + option.value + ">")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast); // the last one given wins
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        exitCode = app.exit(help);
        return std::nullopt;
    } catch (const CLI::CallForAllHelp& help) {
        exitCode = app.exit(help);
        return std::nullopt;
    } catch (const CLI::CallForVersion& version) {
        exitCode = app.exit(version);
        return std::nullopt;
    } catch (const CLI::ExtrasError& extras) {
        std::vector<std::string> rest = app.remaining();
        std::erase(rest, "--");
        const bool option = !rest.empty() && rest.front().size() > 1 && rest.front()[0] == '-';
        std::fprintf(stderr, "stonecall-lobbyd: %s\n", extras.what());
        exitCode = option ? 1 : 2;
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "stonecall-lobbyd: %s\n", error.what());
        exitCode = 1;
        return std::nullopt;
    }
    OptionValues values;
    for (const OptionInfo& option : optionInfos())
        if (app.count(std::string("--") + option.name) > 0)
            values[option.name] = given[option.name];
    return values;
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

// SIGHUP: the file and the message of the day read again; the command line still wins. What
// cannot change while running (address, port) waits for a restart, and the log says so.
// The settings a reload can change, by name, as the log shows them.
std::vector<std::pair<std::string, std::string>> reloadable(const Settings& settings)
{
    const LobbyLimits& limits = settings.server.lobby.limits;
    std::size_t motdBytes = 0;
    for (const std::string& line : settings.server.lobby.motd)
        motdBytes += line.size() + 1;
    return {
        {"motd", std::to_string(settings.server.lobby.motd.size()) + " lines, " +
                     std::to_string(motdBytes) + " bytes"},
        {"max-users", std::to_string(settings.server.lobby.maxUsers)},
        {"ping-interval", std::to_string(std::chrono::duration_cast<std::chrono::seconds>(
                                             settings.server.pingInterval)
                                             .count())},
        {"chat-rate", std::to_string(static_cast<int>(limits.chatLinesPerSecond))},
        {"chat-burst", std::to_string(limits.chatBurst)},
        {"flood-disconnect", std::to_string(limits.floodDisconnectAfter)},
        {"connections-per-address", std::to_string(limits.connectionsPerAddress)},
        {"logins-per-minute", std::to_string(limits.loginsPerAddressPerMinute)},
        {"pending-per-address", std::to_string(limits.pendingPerAddress)},
        {"login-deadline", std::to_string(limits.loginDeadline.count())},
        {"ipv6-prefix", std::to_string(limits.ipv6Prefix)},
        {"limit-loopback", limits.limitLoopback ? "true" : "false"},
        {"shutdown-notice", std::to_string(settings.shutdownNotice)},
        {"log-level", Log::nameOf(settings.logLevel)},
    };
}

// "max-users 5 -> 2, motd (a new text)": what a reload changes, for the log.
std::string changes(const Settings& before, const Settings& after)
{
    const auto old = reloadable(before);
    const auto fresh = reloadable(after);
    std::string text;
    for (std::size_t i = 0; i < old.size(); ++i) {
        const bool motd = old[i].first == "motd";
        if (motd ? before.server.lobby.motd == after.server.lobby.motd
                 : old[i].second == fresh[i].second)
            continue;
        text += (text.empty() ? "" : ", ") + old[i].first + " " + old[i].second + " -> " +
                fresh[i].second;
    }
    return text.empty() ? "nothing" : text;
}

void reload(LobbyServer& server, Log& log, Settings& settings, const OptionValues& commandLine)
{
    auto loaded = loadSettings(commandLine, true);
    if (const auto* error = std::get_if<std::string>(&loaded)) {
        log.write(LogLevel::Error, "reload refused, the configuration stays as it was: " + *error);
        return;
    }
    Settings fresh = std::move(std::get<Settings>(loaded));
    server.reconfigure(fresh.server);
    log.setLevel(fresh.logLevel);
    std::string line =
        "reloaded: " + std::to_string(fresh.server.lobby.motd.size()) +
        " lines of message of the day, max-users " + std::to_string(fresh.server.lobby.maxUsers) +
        ", ping-interval " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(fresh.server.pingInterval).count()) +
        ", log-level " + Log::nameOf(fresh.logLevel) + ", chat-rate " +
        std::to_string(static_cast<int>(fresh.server.lobby.limits.chatLinesPerSecond)) +
        ", shutdown-notice " + std::to_string(fresh.shutdownNotice) +
        "; changed: " + changes(settings, fresh);
    if (fresh.bind != settings.bind || fresh.port != settings.port ||
        fresh.server.lobby.stateFolder != settings.server.lobby.stateFolder ||
        fresh.controlSocket != settings.controlSocket) {
        line += "; bind, port, state-dir and control-socket take effect at the next start";
        fresh.bind = settings.bind;
        fresh.port = settings.port;
        fresh.server.lobby.stateFolder = settings.server.lobby.stateFolder;
        fresh.controlSocket = settings.controlSocket;
    }
    settings = std::move(fresh);
    log.write(LogLevel::Info, line);
}

void writeLine(std::string_view line)
{
    std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

} // namespace

int main(int argc, char** argv)
{
    int exitCode = 0;
    const auto commandLine = parse(argc, argv, exitCode);
    if (!commandLine)
        return exitCode;

    auto loaded = loadSettings(*commandLine);
    if (const auto* error = std::get_if<std::string>(&loaded)) {
        std::fprintf(stderr, "stonecall-lobbyd: %s\n", error->c_str());
        return 2;
    }
    Settings settings = std::move(std::get<Settings>(loaded));

    Log log(writeLine);
    // The journal stamps every line itself and reads the level from a prefix.
    log.setJournal(std::getenv("JOURNAL_STREAM") != nullptr);
    log.setLevel(settings.logLevel);

    std::signal(SIGPIPE, SIG_IGN); // a peer gone mid-write is handled as a lost connection
    // A descriptor for each user, for those still logging in, and a few of the server's own.
    log.write(
        LogLevel::Info,
        raiseOpenFileLimit(static_cast<std::size_t>(settings.server.lobby.maxUsers) + 64 + 16));

    LobbyServer server(settings.server);
    server.setLog(&log);
    // Bans the server could not read would be written over at the next ban: it does not run
    // without them.
    const StateReport& state = server.lobby().stateReport();
    for (const StateReport::Note& note : state.notes)
        log.write(note.level, note.text);
    if (state.error) {
        std::fprintf(stderr, "stonecall-lobbyd: state: %s\n", state.error->c_str());
        return 1;
    }
    // SIGTERM and SIGINT tell the players and end the loop after the notice's time (at once
    // with nobody to tell, or at a second signal), so the server closes its sockets and frees
    // what it holds on the way out (and a leak checker gets its say); SIGUSR1 asks for a
    // status line; SIGHUP reloads the settings, keeping the old ones when the new ones are
    // wrong.
    asio::signal_set signals(server.context(), SIGTERM, SIGINT, SIGUSR1);
    signals.add(SIGHUP);
    asio::steady_timer closing(server.context());
    bool stopping = false;
    std::function<void(const std::error_code&, int)> onSignal = [&](const std::error_code& error,
                                                                    int number) {
        if (error)
            return;
        if (number == SIGTERM || number == SIGINT) {
            const std::string name = number == SIGTERM ? "SIGTERM" : "SIGINT";
            const int seconds = settings.shutdownNotice;
            if (stopping || seconds <= 0 || server.lobby().userCount() == 0) {
                log.write(LogLevel::Info,
                          "stopping: " + name + (stopping ? " again, closing at once" : ""));
                server.stop();
                return;
            }
            stopping = true;
            const std::string in =
                std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
            log.write(LogLevel::Info,
                      "stopping: " + name + "; closing in " + in + ", no new connections");
            server.stopListening();
            server.lobby().announce("The lobby is closing in " + in + ".");
            closing.expires_after(std::chrono::seconds(seconds));
            closing.async_wait([&](const std::error_code& e) {
                if (e)
                    return;
                log.write(LogLevel::Info, "stopping now");
                server.stop();
            });
            signals.async_wait(onSignal);
            return;
        }
        if (number == SIGUSR1)
            log.write(LogLevel::Info, statusLine(server));
        else
            reload(server, log, settings, *commandLine);
        signals.async_wait(onSignal);
    };
    signals.async_wait(onSignal);

    if (!server.listen(settings.bind, settings.port)) {
        std::fprintf(stderr, "stonecall-lobbyd: cannot listen on %s port %u: %s\n",
                     settings.bind.empty() ? "every address" : settings.bind.c_str(),
                     static_cast<unsigned>(settings.port), server.errorString().c_str());
        return 1;
    }
    // The operator's commands, on the same loop as the lobby.
    Control control(server.lobby(), [&server] {
        const Lobby& lobby = server.lobby();
        LobbyFigures figures;
        figures.users = lobby.userCount();
        figures.connections = lobby.connectionCount();
        for (const auto& [id, c] : lobby.connections())
            figures.loggingIn += c.phase != Lobby::Phase::LoggedIn;
        const LobbyServer::Traffic& traffic = server.traffic();
        figures.messagesIn = traffic.messagesIn;
        figures.bytesIn = traffic.bytesIn;
        figures.messagesOut = traffic.messagesOut;
        figures.bytesOut = traffic.bytesOut;
        for (std::size_t i = 0; i < RefusalKinds; ++i)
            figures.refusals[std::string(refusalLabel(static_cast<Refusal>(i)))] =
                lobby.refusals()[i];
        figures.bans = server.lobby().bans().size();
        figures.residentBytes = residentBytes();
        return prometheusText(figures);
    });
    ControlSocket controlSocket(server.context(), control, &log);
    if (!settings.controlSocket.empty()) {
        if (const auto error = controlSocket.open(settings.controlSocket)) {
            std::fprintf(stderr, "stonecall-lobbyd: control socket %s\n", error->c_str());
            return 1;
        }
        log.write(LogLevel::Info, "control socket " + settings.controlSocket);
    } else {
        log.write(LogLevel::Info, "no control socket (control-socket not set)");
    }
    std::printf("stonecall-lobbyd listening on port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    log.write(LogLevel::Info,
              "listening on " +
                  (settings.bind.empty() ? std::string("every address") : settings.bind) +
                  " port " + std::to_string(server.port()) +
                  (settings.configPath.empty() ? std::string(", no configuration file")
                                               : ", configuration " + settings.configPath));
    log.write(LogLevel::Info, server.gathersWrites()
                                  ? "broadcasts: writes gathered through io_uring"
                                  : "broadcasts: one system call per reader (no io_uring here)");
    server.run();
    return 0;
}
