#include "qt/QtSocket.h"

#include <QHostAddress>

#include <algorithm>
#include <utility>

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace stonecall {

QtSocket::QtSocket(QObject* parent) : QObject(parent)
{
    // Each arrival is handled in one go; a flood waits in the system, not in our memory.
    socket_.setReadBufferSize(ReadPortion);
    connectTimer_.setSingleShot(true);
    connectTimer_.setInterval(ConnectTimeoutMs);
    connect(&connectTimer_, &QTimer::timeout, this, &QtSocket::onConnectTimeout);
    connect(&socket_, &QTcpSocket::connected, this, [this] {
        connectTimer_.stop();
        if (onConnect)
            onConnect();
    });
    connect(&socket_, &QTcpSocket::disconnected, this, [this] {
        if (!closing_ && onClose)
            onClose();
    });
    connect(&socket_, &QTcpSocket::readyRead, this, [this] {
        if (closing_) {
            socket_.readAll(); // the client has let go of this connection
            return;
        }
        if (onDataArrival)
            onDataArrival(static_cast<std::size_t>(socket_.bytesAvailable()));
    });
    connect(&socket_, &QTcpSocket::errorOccurred, this, &QtSocket::onErrorOccurred);
    writeTimer_.setInterval(WriteRetryMs);
    connect(&writeTimer_, &QTimer::timeout, this, &QtSocket::onWriteTick);
}

QtSocket::~QtSocket()
{
    // The run is ending: what the peers have not taken yet gets the rest of its time.
    std::vector<pollfd> waiting;
    while (!farewells_.empty()) {
        std::erase_if(farewells_, [](Farewell& f) { return f.step(); });
        waiting.clear();
        for (const Farewell& f : farewells_)
            waiting.push_back({f.out.fd, POLLIN, 0});
        if (!waiting.empty())
            ::poll(waiting.data(), waiting.size(), WriteRetryMs);
    }
}

void QtSocket::Connect(const std::string& host, int port)
{
    {
        QSignalBlocker blocker(&socket_);
        socket_.abort();
    }
    closing_ = false;
    out_ = Outgoing();
    // IPv4 for a host name, so that the local address reads as a dotted quad; an IPv6
    // address is taken as it is.
    const auto protocol = host.find(':') == std::string::npos ? QAbstractSocket::IPv4Protocol
                                                              : QAbstractSocket::AnyIPProtocol;
    socket_.connectToHost(QString::fromStdString(host), static_cast<quint16>(port),
                          QIODevice::ReadWrite, protocol);
    connectTimer_.start();
}

void QtSocket::Close()
{
    connectTimer_.stop();
    closing_ = true;
    // What was sent last (LOGOUT) must still reach the peer, after everything before it: the
    // connection goes on under a descriptor of its own, so this socket is free at once.
    if (socket_.state() == QAbstractSocket::ConnectedState && socket_.socketDescriptor() >= 0) {
        Farewell farewell{std::move(out_), std::chrono::steady_clock::now() + FarewellTime};
        farewell.out.fd = ::dup(static_cast<int>(socket_.socketDescriptor()));
        if (farewell.out.fd >= 0 && !farewell.step())
            farewells_.push_back(std::move(farewell));
    }
    out_ = Outgoing();
    {
        QSignalBlocker blocker(&socket_);
        socket_.abort();
    }
    scheduleWrites();
}

void QtSocket::SendData(std::string_view bytes)
{
    if (socket_.state() != QAbstractSocket::ConnectedState)
        return;
    out_.fd = static_cast<int>(socket_.socketDescriptor());
    out_.send(bytes);
    scheduleWrites();
}

std::size_t QtSocket::unsentBytes() const
{
    return out_.bytes;
}

void QtSocket::scheduleWrites()
{
    const bool waiting = !out_.messages.empty() || !farewells_.empty();
    if (waiting && !writeTimer_.isActive())
        writeTimer_.start();
    else if (!waiting)
        writeTimer_.stop();
}

void QtSocket::onWriteTick()
{
    // A failed connection shows itself on the reading side too, which ends it there.
    if (!out_.messages.empty() && !out_.drain())
        out_ = Outgoing();
    std::erase_if(farewells_, [](Farewell& f) { return f.step(); });
    scheduleWrites();
}

void QtSocket::Outgoing::send(std::string_view message)
{
    if (messages.empty() && systemTakes(message.size())) {
        for (;;) {
            const ssize_t sent =
                ::send(fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                return; // the connection failed; the reading side reports it
            if (sent > 0) {
                assumedQueued += static_cast<std::size_t>(sent);
                message.remove_prefix(static_cast<std::size_t>(sent));
                frontStarted = !message.empty();
            }
            break;
        }
        if (message.empty())
            return;
    }
    messages.emplace_back(message);
    bytes += message.size();
}

bool QtSocket::Outgoing::drain()
{
    while (!messages.empty()) {
        std::string& front = messages.front();
        // The rest of a message the system took in part goes as soon as it can.
        if (!frontStarted && !systemTakes(front.size()))
            return true;
        const ssize_t sent = ::send(fd, front.data(), front.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        const auto taken = static_cast<std::size_t>(sent);
        assumedQueued += taken;
        bytes -= taken;
        if (taken == front.size()) {
            messages.pop_front();
            frontStarted = false;
        } else {
            front.erase(0, taken);
            frontStarted = true;
            return true;
        }
    }
    return true;
}

std::size_t QtSocket::Outgoing::systemQueued() const
{
    int queued = 0;
    return ::ioctl(fd, SIOCOUTQ, &queued) == 0 && queued > 0 ? static_cast<std::size_t>(queued) : 0;
}

bool QtSocket::Outgoing::systemTakes(std::size_t size)
{
    // The system takes as much as fits in its send buffer, which may end within a message.
    // What it holds of ours is kept to a quarter of that buffer (which it doubles for its own
    // bookkeeping), so a message handed over goes in whole. Asked only when the estimate of
    // what it holds has run out: a reply now and then costs no further system call.
    if (assumedQueued + size <= room)
        return true;
    int buffer = 0;
    socklen_t length = sizeof buffer;
    if (::getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, &length) != 0)
        return true; // not a socket we can ask: the send itself tells
    room = static_cast<std::size_t>(buffer) / 4;
    assumedQueued = systemQueued();
    // A message longer than the room goes once the system holds nothing of ours.
    return assumedQueued == 0 || assumedQueued + size <= room;
}

bool QtSocket::Farewell::step()
{
    // What arrives is dropped: data left unread when the descriptor closes would make the
    // system reset the connection. A peer that sends more than a message's worth after our
    // last message is not listening: it is let go at once.
    char discard[64 * 1024];
    bool peerClosed = false;
    while (discarded <= MaxDiscarded) {
        const ssize_t got = ::recv(out.fd, discard, sizeof discard, MSG_DONTWAIT);
        if (got > 0) {
            discarded += static_cast<std::size_t>(got);
            continue;
        }
        peerClosed = got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        break;
    }
    bool done = peerClosed || discarded > MaxDiscarded || !out.drain();
    if (!done && out.messages.empty()) {
        if (!shut)
            ::shutdown(out.fd, SHUT_WR); // the end of our side follows the last message
        shut = true;
        done = out.systemQueued() == 0; // all of it has reached the peer
    }
    if (!done && std::chrono::steady_clock::now() < deadline)
        return false;
    ::close(out.fd);
    return true;
}

std::string QtSocket::GetData(std::size_t maxBytes)
{
    if (!socket_.isOpen())
        return {};
    const qint64 wanted = static_cast<qint64>(
        std::min<std::size_t>(maxBytes, static_cast<std::size_t>(socket_.bytesAvailable())));
    // Read straight into the string the caller keeps: no second copy through a QByteArray.
    std::string data(static_cast<std::size_t>(wanted), '\0');
    const qint64 got = wanted > 0 ? socket_.read(data.data(), wanted) : 0;
    data.resize(static_cast<std::size_t>(std::max<qint64>(got, 0)));
    return data;
}

bool QtSocket::isConnected() const
{
    return socket_.state() == QAbstractSocket::ConnectedState;
}

std::string QtSocket::LocalIP() const
{
    return socket_.localAddress().toString().toStdString();
}

void QtSocket::Accept(int /*requestId*/)
{
    // Nothing ever listens on this socket, so no request can be pending.
}

void QtSocket::onErrorOccurred(QAbstractSocket::SocketError error)
{
    // Errors on a standing connection end in disconnected(); only a failed attempt is reported.
    if (error == QAbstractSocket::RemoteHostClosedError || !connectTimer_.isActive())
        return;
    connectTimer_.stop();
    const char* reason = FailedReason;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        reason = RefusedReason;
        break;
    case QAbstractSocket::HostNotFoundError:
        reason = NotFoundReason;
        break;
    case QAbstractSocket::SocketTimeoutError:
        reason = NoAnswerReason;
        break;
    case QAbstractSocket::NetworkError:
        reason = NetworkReason;
        break;
    default:
        break;
    }
    socket_.abort();
    if (onError)
        onError(reason);
}

void QtSocket::onConnectTimeout()
{
    QSignalBlocker blocker(&socket_);
    socket_.abort();
    if (onError)
        onError(NoAnswerReason);
}

} // namespace stonecall
