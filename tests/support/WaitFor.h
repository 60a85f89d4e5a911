#pragma once
// Runs the event loop until a condition holds or a deadline passes.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace stonecall::testing {

template <class Condition> bool waitFor(Condition&& condition, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

} // namespace stonecall::testing
