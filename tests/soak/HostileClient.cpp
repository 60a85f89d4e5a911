// Hostile-server driver: the whole client (real windows on the offscreen platform, real
// socket) logs in to tests/soak/hostile_server.py once per attack. While the attacks run, a
// 50 ms timer measures how late the event loop comes round and samples the resident memory.
// After each attack the server ends the connection and the driver presses the login button
// again, as a user would.
//
//     hostile_client --port N [--attacks 12] [--max-stall-ms 1000] [--max-line-stall-ms 250]
//                    [--max-rss-mib 512] [--max-settled-mib 64]
//
// Fails (exit 1) when the loop stalls longer than the bound (attacks 5 to 9, each one arrival
// of long lines or a long name, have a bound of their own), memory passes its bound, the first
// attack (a message without end) does not end in the client dropping the connection as
// oversized, the tenth (a server that stops reading) does not end in the client dropping it
// for its unsent output, the client holds more than --max-settled-mib above what it held
// before the eleventh once the server of the eleventh or twelfth (huge fields, then short
// ones for the same entries) has sent its short entries, or an attack does not finish within
// its deadline.

#include "Memory.h"
#include "app/Client.h"
#include "qt/ClientApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

constexpr int TickMs = 50;
constexpr int AttackTimeoutMs = 120000;
constexpr int FirstLongLineAttack = 5, LastLongLineAttack = 9, UnreadAttack = 10;
constexpr int FirstBigFieldAttack = 11;

struct Options {
    int port = 0;
    int attacks = 12;
    int maxStallMs = 1000;
    int maxLineStallMs = 250;
    int maxRssMiB = 512;
    int maxSettledMiB = 64;
};

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--port")
            o.port = value;
        else if (key == "--attacks")
            o.attacks = value;
        else if (key == "--max-stall-ms")
            o.maxStallMs = value;
        else if (key == "--max-line-stall-ms")
            o.maxLineStallMs = value;
        else if (key == "--max-rss-mib")
            o.maxRssMiB = value;
        else if (key == "--max-settled-mib")
            o.maxSettledMiB = value;
    }
    return o;
}

struct Figures {
    qint64 longestStallMs = 0; // how much later than due the timer came at worst
    qint64 ticks = 0;
    qint64 lateTicks = 0; // ticks more than one interval late
    std::size_t peakRssKiB = 0;
    std::size_t endRssKiB = 0; // once the connection had ended
    qint64 durationMs = 0;
    std::string status; // the login window's status line when the attack ended
};

class Driver {
public:
    Driver(ClientApp& app, Options options) : app_(app), options_(options)
    {
        figures_.resize(static_cast<std::size_t>(options_.attacks));
        tick_.setInterval(TickMs);
        QObject::connect(&tick_, &QTimer::timeout, [this] { onTick(); });
    }

    void start()
    {
        baselineRss_ = residentKiB();
        sinceTick_.start();
        tick_.start();
        pressLogin();
    }

    bool report()
    {
        // Between two samples memory may have peaked higher; the system's own mark counts too.
        const std::size_t peak = std::max(peakRss(), peakResidentKiB());
        if (peak > static_cast<std::size_t>(options_.maxRssMiB) * 1024)
            fail("resident memory peaked at " + std::to_string(peak / 1024) + " MiB");
        const bool ok = failure_.empty();
        std::printf("client before the attacks: %zu KiB resident; before attack %d: %zu KiB\n",
                    baselineRss_, FirstBigFieldAttack, beforeBigFieldsRss_);
        for (std::size_t i = 0; i < figures_.size(); ++i) {
            const Figures& f = figures_[i];
            std::printf("attack %zu: %.1f s, longest event-loop stall %lld ms (%lld of %lld ticks "
                        "late by more than %d ms), peak resident %zu KiB, at its end %zu KiB; "
                        "status \"%s\"\n",
                        i + 1, static_cast<double>(f.durationMs) / 1000.0,
                        static_cast<long long>(f.longestStallMs),
                        static_cast<long long>(f.lateTicks), static_cast<long long>(f.ticks),
                        TickMs, f.peakRssKiB, f.endRssKiB, f.status.c_str());
        }
        std::printf("highest resident set of the run (the system's mark): %zu KiB\n", peak);
        std::printf("RESULT attacks=%zu longest_stall_ms=%lld peak_rss_kib=%zu\n", figures_.size(),
                    static_cast<long long>(longestStall()), peak);
        if (!ok)
            std::printf("FAILED: %s\n", failure_.c_str());
        return ok;
    }

private:
    void pressLogin()
    {
        attackClock_.start();
        if (attack_ + 1 == FirstBigFieldAttack)
            beforeBigFieldsRss_ = residentKiB();
        // The progress bar goes to 1 when the connection stands and keeps its value after it
        // ends, so it tells whether this attack's connection has been made.
        app_.loginForm().setProgress(0);
        app_.loginForm().usrName()->setText(QStringLiteral("Target"));
        QTest::mouseClick(app_.loginForm().cmdLogin(), Qt::LeftButton);
    }

    Figures& current() { return figures_[static_cast<std::size_t>(attack_)]; }

    void onTick()
    {
        const qint64 gap = sinceTick_.restart();
        Figures& f = current();
        const qint64 late = std::max<qint64>(0, gap - TickMs);
        f.longestStallMs = std::max(f.longestStallMs, late);
        f.ticks += 1;
        f.lateTicks += late > TickMs ? 1 : 0;
        f.peakRssKiB = std::max(f.peakRssKiB, residentKiB());

        if (f.peakRssKiB > static_cast<std::size_t>(options_.maxRssMiB) * 1024)
            return fail("resident memory passed " + std::to_string(options_.maxRssMiB) + " MiB");
        const int number = attack_ + 1;
        const int bound = number >= FirstLongLineAttack && number <= LastLongLineAttack
                              ? options_.maxLineStallMs
                              : options_.maxStallMs;
        if (late > bound)
            return fail("attack " + std::to_string(number) + ": the event loop stalled for " +
                        std::to_string(late) + " ms");
        if (attackClock_.elapsed() > AttackTimeoutMs)
            return fail("attack " + std::to_string(attack_ + 1) + " did not end in time");

        // An attack is over when the connection that carried it has ended and the client is
        // back at the login window.
        if (app_.loginForm().progress() < 1 || app_.WSClient().isConnected() ||
            !app_.loginForm().isVisible() || app_.lobbyForm().isVisible())
            return;
        f.durationMs = attackClock_.elapsed();
        f.status = app_.loginForm().statusText();
        f.endRssKiB = residentKiB();
        if (number >= FirstBigFieldAttack &&
            f.endRssKiB >
                beforeBigFieldsRss_ + static_cast<std::size_t>(options_.maxSettledMiB) * 1024)
            return fail("attack " + std::to_string(number) + ": still " +
                        std::to_string(f.endRssKiB / 1024) + " MiB resident after short entries, " +
                        std::to_string(beforeBigFieldsRss_ / 1024) + " MiB before the huge ones");
        if (attack_ == 0 && f.status != Client::OversizedText)
            return fail("the message without end did not close the connection as oversized");
        if (number == UnreadAttack && f.status != Client::UnsentText)
            return fail("the server that stopped reading was not dropped for the unsent output");
        if (++attack_ == options_.attacks) {
            tick_.stop();
            QApplication::quit();
            return;
        }
        pressLogin();
    }

    void fail(const std::string& reason)
    {
        if (failure_.empty())
            failure_ = reason;
        tick_.stop();
        QApplication::quit();
    }

    qint64 longestStall() const
    {
        qint64 worst = 0;
        for (const Figures& f : figures_)
            worst = std::max(worst, f.longestStallMs);
        return worst;
    }

    std::size_t peakRss() const
    {
        std::size_t peak = 0;
        for (const Figures& f : figures_)
            peak = std::max(peak, f.peakRssKiB);
        return peak;
    }

    ClientApp& app_;
    Options options_;
    std::vector<Figures> figures_;
    QTimer tick_;
    QElapsedTimer sinceTick_;
    QElapsedTimer attackClock_;
    std::size_t baselineRss_ = 0;
    std::size_t beforeBigFieldsRss_ = 0;
    int attack_ = 0;
    std::string failure_;
};

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const Options options = parse(argc, argv);
    if (options.port <= 0 || options.attacks < 1) {
        std::fprintf(stderr, "usage: hostile_client --port N [--attacks N] [--max-stall-ms N] "
                             "[--max-line-stall-ms N] [--max-rss-mib N] [--max-settled-mib N]\n");
        return 2;
    }

    ClientApp app;
    app.start();
    app.client().ServerHost = "127.0.0.1";
    app.client().ServerPort = options.port;
    Driver driver(app, options);
    QTimer::singleShot(0, [&driver] { driver.start(); });
    QApplication::exec();
    return driver.report() ? 0 : 1;
}
