#include "qt/QtSocket.h"

#include <QHostAddress>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/socket.h>

#include <cerrno>
#endif

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
}

void QtSocket::Connect(const std::string& host, int port)
{
    {
        QSignalBlocker blocker(&socket_);
        socket_.abort();
    }
    closing_ = false;
    flushedTo_ = 0;
    // IPv4, so that the local address reads as a dotted quad.
    socket_.connectToHost(QString::fromStdString(host), static_cast<quint16>(port),
                          QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
    connectTimer_.start();
}

void QtSocket::Close()
{
    connectTimer_.stop();
    closing_ = true;
    // What was sent last (LOGOUT) must still reach the peer before the connection ends. What
    // the system cannot take now would wait for a peer that does not read: it is dropped.
    if (socket_.state() == QAbstractSocket::ConnectedState)
        socket_.flush();
    if (socket_.state() == QAbstractSocket::ConnectedState && socket_.bytesToWrite() == 0) {
        socket_.disconnectFromHost();
    } else {
        QSignalBlocker blocker(&socket_);
        socket_.abort();
    }
}

void QtSocket::SendData(std::string_view bytes)
{
#ifdef Q_OS_UNIX
    // While nothing of ours waits in Qt's buffer, the bytes go straight to the system: a reply
    // leaves at once, and the event loop takes no extra turns to switch the write notifier on
    // and off again. What the system does not take now joins Qt's buffer, which keeps the order.
    if (socket_.bytesToWrite() == 0 && socket_.state() == QAbstractSocket::ConnectedState) {
        const auto descriptor = static_cast<int>(socket_.socketDescriptor());
        while (descriptor >= 0 && !bytes.empty()) {
            const ssize_t sent =
                ::send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0)
                bytes.remove_prefix(static_cast<std::size_t>(sent));
            else if (sent < 0 && errno == EINTR)
                continue;
            else
                break; // full, or an error that Qt's own write reports
        }
        if (bytes.empty())
            return;
    }
#endif
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    // Within one arrival the event loop does not turn, so hand over what the system takes now;
    // what stays behind is what the server has not read. Once per FlushAbove bytes, so a peer
    // that reads nothing costs no system call per message.
    const qint64 unsent = socket_.bytesToWrite();
    flushedTo_ = std::min(flushedTo_, unsent); // the event loop may have sent some since
    if (unsent > flushedTo_ + FlushAbove) {
        socket_.flush();
        flushedTo_ = socket_.bytesToWrite();
    }
}

std::size_t QtSocket::unsentBytes() const
{
    return static_cast<std::size_t>(socket_.bytesToWrite());
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
