#include "ScriptedClient.h"

#include "Rules.h"
#include "wire/Framer.h"
#include "wire/Numbers.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

using namespace stonecall;

namespace {
std::function<void()> waitPump;
}

void setWaitPump(std::function<void()> pump)
{
    waitPump = std::move(pump);
}

bool waitUntil(const std::function<bool()>& condition, int deadlineMs)
{
    const QDeadlineTimer deadline(deadlineMs);
    QTimer wake; // an event now and then, so the deadline is seen even in silence
    wake.start(20);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        if (waitPump) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            waitPump();
        } else {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    return true;
}

ScriptedClient::ScriptedClient(quint16 port)
{
    QObject::connect(&socket_, &QTcpSocket::readyRead, [this] { readAll(); });
    socket_.connectToHost(QHostAddress::LocalHost, port);
    waitUntil([this] { return isConnected(); });
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void ScriptedClient::send(const Message& message)
{
    sendRaw(QByteArray::fromStdString(test::framed(message)));
}

void ScriptedClient::sendRaw(const QByteArray& bytes)
{
    socket_.write(bytes);
    socket_.flush();
}

std::optional<Message> ScriptedClient::next()
{
    waitUntil([this] { return !inbox_.empty(); });
    if (inbox_.empty())
        return std::nullopt;
    Message message = std::move(inbox_.front());
    inbox_.pop_front();
    return message;
}

std::optional<Messages> ScriptedClient::upTo(const Message& message)
{
    Messages before;
    for (;;) {
        std::optional<Message> got = next();
        if (!got)
            return std::nullopt;
        if (*got == message)
            return before;
        before.push_back(std::move(*got));
    }
}

bool ScriptedClient::waitClosed()
{
    return waitUntil([this] { return socket_.state() == QAbstractSocket::UnconnectedState; });
}

int ScriptedClient::logIn(const std::string& name)
{
    send(test::msg("VERSION", {"1"}));
    if (next() != test::msg("VERSION", {"GOOD"}))
        return -1;
    send(test::msg("LOGIN", {name, "127.0.0.1"}));
    const std::optional<Message> login = next();
    if (!login || !login->startsWith("LOGIN"))
        return -1;
    const auto fields = splitFields(login->bytes);
    const int index = fields.size() == 2 ? strictNumber<std::int32_t>(fields[1]).value_or(-1) : -1;
    send("GETUSERLIST");
    if (!upTo("ENDUSERS"))
        return -1;
    return index;
}

void ScriptedClient::answerAutomatically(bool on, int verifySkew)
{
    automatic_ = on;
    verifySkew_ = verifySkew;
}

void ScriptedClient::readAll()
{
    const QByteArray bytes = socket_.readAll();
    feedMessages(
        partial_, std::string_view(bytes.constData(), bytes.size()), MsgEnd, std::string::npos,
        [this](std::string_view message) {
            const auto fields = splitFields(message);
            if (automatic_ && fields[0] == "PING") {
                ++pingsAnswered_;
                send("PINGREPLY");
            } else if (automatic_ && fields[0] == "VERIFY" && fields.size() == 2) {
                const auto v = strictNumber<std::int16_t>(fields[1]);
                const auto answer = v ? verifyResponse(*v) : std::nullopt;
                ++challengesAnswered_;
                send(test::msg("VERIFY", {std::to_string(answer.value_or(0) + verifySkew_)}));
            } else {
                inbox_.emplace_back(message);
            }
        });
}
