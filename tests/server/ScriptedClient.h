#pragma once
// A lobby client for socket tests: sends what the test says, collects every message it
// receives, and can answer PING and VERIFY by itself. Waits spin the event loops against a
// deadline, so the server in the same thread keeps running.

#include "WireMessages.h"

#include <QByteArray>
#include <QTcpSocket>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs the event loop until the condition holds or the deadline passes; no fixed sleeps.
bool waitUntil(const std::function<bool()>& condition, int deadlineMs = 10000);
// The server under test runs its own loop in this thread: waits drive it through `pump`,
// which may block for a moment on the server's sockets. Empty: only Qt's loop runs.
void setWaitPump(std::function<void()> pump);

using stonecall::test::Message;
using stonecall::test::Messages;

class ScriptedClient {
public:
    explicit ScriptedClient(quint16 port);

    void send(const Message& message); // MsgEnd is added
    void sendRaw(const QByteArray& bytes);
    void abort() { socket_.abort(); }

    // The next message, without MsgEnd; nothing when none comes before the deadline.
    std::optional<Message> next();
    // Everything received before `message`, which is taken too; nothing on time-out.
    std::optional<Messages> upTo(const Message& message);
    bool waitClosed();
    bool isConnected() const { return socket_.state() == QAbstractSocket::ConnectedState; }

    // The whole log-in conversation; the index the server gave, or -1.
    int logIn(const std::string& name);

    // Answer PING and VERIFY by itself (they are then not collected); a non-zero skew
    // makes every VERIFY answer wrong by that much.
    void answerAutomatically(bool on, int verifySkew = 0);
    int pingsAnswered() const { return pingsAnswered_; }
    int challengesAnswered() const { return challengesAnswered_; }

private:
    void readAll();

    QTcpSocket socket_;
    std::string partial_;
    std::deque<Message> inbox_;
    bool automatic_ = false;
    int verifySkew_ = 0;
    int pingsAnswered_ = 0;
    int challengesAnswered_ = 0;
};
