#pragma once
// Unix signals as events of the event loop. SIGTERM and SIGINT end the loop, so the server
// closes its sockets and frees what it holds on the way out instead of vanishing mid-flight
// (and a leak checker gets its say); SIGUSR1 asks for a status line.

#include <functional>

class QCoreApplication;

namespace stonecall::server {

// Call once, before the event loop runs; onStatus runs on the loop's thread.
void handleSignals(QCoreApplication& app, std::function<void()> onStatus);

} // namespace stonecall::server
