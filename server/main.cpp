// stonecall-lobbyd: the lobby server the Stonecall client logs in to.

#include "LobbyServer.h"
#include "Motd.h"
#include "Signals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

using namespace stonecall::server;

namespace {

std::optional<long> numberOption(const QCommandLineParser& parser, const QString& name, long low,
                                 long high)
{
    bool ok = false;
    const long value = parser.value(name).toLong(&ok);
    if (!ok || value < low || value > high) {
        std::fprintf(stderr, "stonecall-lobbyd: --%s takes a whole number from %ld to %ld\n",
                     qPrintable(name), low, high);
        return std::nullopt;
    }
    return value;
}

// The operator's view of the server's load and memory.
std::string statusLine(const Lobby& lobby)
{
    const struct mallinfo2 heap = mallinfo2();
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return "status: " + std::to_string(lobby.userCount()) + " users, " +
           std::to_string(lobby.connectionCount()) + " connections, heap in use " +
           std::to_string((heap.uordblks + heap.hblkhd) / 1024) + " KiB of " +
           std::to_string((heap.arena + heap.hblkhd) / 1024) + " KiB taken, resident " +
           std::to_string(resident * sysconf(_SC_PAGESIZE) / 1024) + " KiB";
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN); // a peer gone mid-write is handled as a lost connection
    // The glib event dispatcher keeps socket notifiers in a list, so with many users every
    // broadcast costs time in the square of the user count; Qt's own dispatcher does not.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("stonecall-lobbyd");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Lobby server for the Stonecall client. SIGTERM or SIGINT stops it; SIGUSR1 logs a "
        "status line (users, connections, memory).");
    parser.addHelpOption();
    parser.addOptions({
        {"port", "TCP port to listen on, on every address; 0 picks a free one (default 13511).",
         "port", "13511"},
        {"motd",
         "Message of the day: a text file, one line per line shown (default: a short greeting).",
         "file"},
        {"ping-interval", "Seconds between pings; 0 turns pings off (default 30).", "seconds",
         "30"},
        {"max-users", "Most users logged in at once, 1 to 32767 (default 1000).", "count", "1000"},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "stonecall-lobbyd: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    const auto port = numberOption(parser, "port", 0, 65535);
    const auto ping = numberOption(parser, "ping-interval", 0, 86400);
    const auto maxUsers = numberOption(parser, "max-users", 1, MaxUsersLimit);
    if (!port || !ping || !maxUsers)
        return 2;

    ServerConfig config;
    config.pingInterval = std::chrono::seconds(*ping);
    config.lobby.maxUsers = static_cast<int>(*maxUsers);
    config.lobby.motd = defaultMotd();
    if (parser.isSet("motd")) {
        QFile file(parser.value("motd"));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "stonecall-lobbyd: cannot read %s: %s\n",
                         qPrintable(file.fileName()), qPrintable(file.errorString()));
            return 1;
        }
        // Read no more than the longest message of the day can use.
        const QByteArray text = file.read(MaxMotdLines * (MaxMotdLineLength + 2));
        config.lobby.motd = motdFromText(std::string_view(text.constData(), text.size()));
    }

    LobbyServer server(config);
    server.setLog([](std::string_view line) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    });
    handleSignals(app, [&server] {
        const std::string line = statusLine(server.lobby());
        std::fprintf(stderr, "%s\n", line.c_str());
    });
    if (!server.listen(QHostAddress::Any, static_cast<quint16>(*port))) {
        std::fprintf(stderr, "stonecall-lobbyd: cannot listen on port %ld: %s\n", *port,
                     qPrintable(server.errorString()));
        return 1;
    }
    std::printf("stonecall-lobbyd listening on port %u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}
