// Soak driver: the whole client (real windows on the offscreen platform, real socket) logs
// in to a running stonecall-lobbyd, chats, hosts a hut, leaves it and logs out, over and
// over, and reports its memory after a warm-up and at the end.
//
//     soak_client --port N [--cycles 1000] [--warmup 50]
//
// Prints one line "RESULT key=value ..." for scripts/soak.sh to judge; exits 1 when a step
// does not complete within its deadline.

#include "Memory.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

constexpr int StepTimeoutMs = 15000;

struct Options {
    int port = 0;
    int cycles = 1000;
    int warmup = 50;
};

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--port")
            o.port = value;
        else if (key == "--cycles")
            o.cycles = value;
        else if (key == "--warmup")
            o.warmup = value;
    }
    return o;
}

[[noreturn]] void fail(int cycle, const char* step)
{
    std::fprintf(stderr, "soak_client: cycle %d: %s did not happen within %d ms\n", cycle, step,
                 StepTimeoutMs);
    std::exit(1);
}

// One visit: log in, say something, host a hut of two and give it up, log out.
void visit(ClientApp& app, int cycle)
{
    LoginForm& login = app.loginForm();
    LobbyForm& lobby = app.lobbyForm();
    login.usrName()->setText(QStringLiteral("Soak%1").arg(cycle));
    QTest::mouseClick(login.cmdLogin(), Qt::LeftButton);
    if (!waitFor([&] { return lobby.isVisible() && !login.isVisible(); }, StepTimeoutMs))
        fail(cycle, "the log-in");

    const QString line = QStringLiteral("line %1.").arg(cycle);
    QTest::keyClicks(lobby.TxOut(), line);
    QTest::keyClick(lobby.TxOut(), Qt::Key_Return);
    // The log empties itself now and then; an empty log means the line went with it.
    if (!waitFor(
            [&] { return lobby.TxChat()->toPlainText().contains(line) || lobby.chatLength() == 0; },
            StepTimeoutMs))
        fail(cycle, "the chat echo");

    QTest::mouseClick(lobby.cmdCreate(), Qt::LeftButton);
    QTest::mouseClick(lobby.HutCount(0), Qt::LeftButton);
    if (!waitFor([&] { return lobby.isLaunchVisible(); }, StepTimeoutMs))
        fail(cycle, "hosting");
    QTest::mouseClick(lobby.cmdExit(), Qt::LeftButton);
    if (!waitFor([&] { return lobby.isCreateVisible() && !lobby.isLaunchVisible(); },
                 StepTimeoutMs))
        fail(cycle, "leaving the hut");

    QTest::mouseClick(lobby.cmdLogout(), Qt::LeftButton);
    // The closed connection keeps its descriptor until LOGOUT has reached the server; the
    // open files are counted only once it is let go.
    if (!waitFor(
            [&] {
                return login.isVisible() && !app.WSClient().isConnected() &&
                       app.WSClient().closingConnections() == 0;
            },
            StepTimeoutMs))
        fail(cycle, "the log-out");
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const Options options = parse(argc, argv);
    if (options.port <= 0 || options.cycles <= options.warmup || options.warmup < 1) {
        std::fprintf(stderr, "usage: soak_client --port N [--cycles N] [--warmup N < cycles]\n");
        return 2;
    }

    std::size_t rssStart = 0, heapStart = 0, rssMiddle = 0, rssEnd = 0, heapEnd = 0;
    std::size_t filesStart = 0, filesEnd = 0;
    QElapsedTimer clock;
    {
        ClientApp app;
        app.start();
        app.client().ServerHost = "127.0.0.1";
        app.client().ServerPort = options.port;
        clock.start();
        for (int cycle = 1; cycle <= options.cycles; ++cycle) {
            visit(app, cycle);
            if (cycle == options.warmup) {
                rssStart = residentKiB();
                heapStart = heapInUse();
                filesStart = openFiles();
            }
            if (cycle == options.warmup + (options.cycles - options.warmup) / 2)
                rssMiddle = residentKiB();
        }
        rssEnd = residentKiB();
        heapEnd = heapInUse();
        filesEnd = openFiles();
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    std::printf("client soak: %d log-ins in %.1f s (%.1f ms each)\n", options.cycles, seconds,
                seconds * 1000.0 / options.cycles);
    std::printf("RESULT cycles=%d warmup=%d rss_start_kib=%zu rss_middle_kib=%zu rss_end_kib=%zu "
                "heap_start=%zu heap_end=%zu fds_start=%zu fds_end=%zu\n",
                options.cycles, options.warmup, rssStart, rssMiddle, rssEnd, heapStart, heapEnd,
                filesStart, filesEnd);
    return 0;
}
