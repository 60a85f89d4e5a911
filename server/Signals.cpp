#include "Signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <csignal>

namespace stonecall::server {

namespace {

int signalPipe[2] = {-1, -1};

// Only what is safe in a signal handler: one write of the signal's number.
void onSignal(int number)
{
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
}

} // namespace

void handleSignals(QCoreApplication& app, std::function<void()> onStatus)
{
    if (pipe(signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [onStatus = std::move(onStatus)] {
        unsigned char number = 0;
        if (read(signalPipe[0], &number, 1) != 1)
            return;
        if (number == SIGUSR1)
            onStatus();
        else
            QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGUSR1})
        sigaction(number, &action, nullptr);
}

} // namespace stonecall::server
