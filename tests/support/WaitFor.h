#pragma once
// Runs the event loop until a condition holds or a deadline passes.

#include <QTest>

#include <utility>

namespace stonecall::testing {

template <class Condition> bool waitFor(Condition&& condition, int timeoutMs = 5000)
{
    return QTest::qWaitFor(std::forward<Condition>(condition), timeoutMs);
}

} // namespace stonecall::testing
