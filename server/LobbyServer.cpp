#include "LobbyServer.h"

#include "wire/Wire.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace stonecall::server {

namespace {

// Room for connections that have not logged in yet beyond the user limit.
constexpr std::size_t PendingConnections = 64;
// Qt reads a peer's bytes in portions of at most this size.
constexpr qint64 ReadPortion = 64 * 1024;
// A peer that does not take its last bytes after a refusal is cut off after this time.
constexpr int CloseGraceMs = 5000;

std::size_t derivedOutputLimit(int maxUsers)
{
    // A user costs at most about 170 bytes in a user list (USER and USERSTATE).
    return 64 * 1024 + 192 * static_cast<std::size_t>(std::max(maxUsers, 1));
}

} // namespace

LobbyServer::LobbyServer(ServerConfig config, QObject* parent)
    : QObject(parent), config_(std::move(config)),
      outputLimit_(config_.outputLimit ? config_.outputLimit
                                       : derivedOutputLimit(config_.lobby.maxUsers)),
      maxConnections_(
          static_cast<std::size_t>(std::clamp(config_.lobby.maxUsers, 1, MaxUsersLimit)) +
          PendingConnections),
      lobby_(config_.lobby, *this), server_(new QTcpServer(this)), ticker_(new QTimer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &LobbyServer::acceptConnections);
    connect(ticker_, &QTimer::timeout, this, [this] {
        lobby_.tick();
        settle();
    });
}

LobbyServer::~LobbyServer()
{
    for (auto& [id, socket] : sockets_) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool LobbyServer::listen(const QHostAddress& address, quint16 port)
{
    if (!server_->listen(address, port))
        return false;
    if (config_.pingInterval.count() > 0)
        ticker_->start(config_.pingInterval);
    return true;
}

quint16 LobbyServer::port() const
{
    return server_->serverPort();
}

QString LobbyServer::errorString() const
{
    return server_->errorString();
}

void LobbyServer::acceptConnections()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (sockets_.size() >= maxConnections_) {
            note("refused: too many connections");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const ConnectionId id = nextId_++;
        sockets_.emplace(id, socket);
        socket->setReadBufferSize(ReadPortion);
        // Lobby messages are small and interactive; do not hold them back to fill packets.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (config_.socketSendBuffer > 0)
            socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption,
                                    config_.socketSendBuffer);
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
        // Queued: a socket may report its end from inside a write, which must not reach the
        // lobby while it is still handling a message.
        connect(
            socket, &QTcpSocket::disconnected, this, [this, id] { lost(id); },
            Qt::QueuedConnection);
        connect(
            socket, &QTcpSocket::errorOccurred, this, [this, id] { lost(id); },
            Qt::QueuedConnection);
        lobby_.connected(id);
        // Bytes may have come with the connection itself.
        if (socket->bytesAvailable() > 0)
            readFrom(id);
    }
}

void LobbyServer::readFrom(ConnectionId id)
{
    // A drop during the loop removes the socket; look it up again every round.
    for (;;) {
        auto it = sockets_.find(id);
        if (it == sockets_.end() || it->second->bytesAvailable() <= 0)
            break;
        const QByteArray bytes = it->second->read(ReadPortion);
        lobby_.bytesReceived(id, std::string_view(bytes.constData(), bytes.size()));
        settle();
    }
}

void LobbyServer::lost(ConnectionId id)
{
    if (sockets_.count(id) == 0)
        return;
    readFrom(id); // what came just before the end still counts, LOGOUT for one
    if (sockets_.count(id) == 0)
        return;
    forget(id, DropKind::Abort);
    lobby_.disconnected(id);
    settle();
}

void LobbyServer::settle()
{
    // Dropping a slow reader tells everyone else, which may push another over its cap.
    while (!overfull_.empty()) {
        const ConnectionId id = overfull_.back();
        overfull_.pop_back();
        if (sockets_.count(id) == 0)
            continue;
        note("dropped: not reading");
        forget(id, DropKind::Abort);
        lobby_.disconnected(id);
    }
}

void LobbyServer::forget(ConnectionId id, DropKind how)
{
    auto it = sockets_.find(id);
    if (it == sockets_.end())
        return;
    QTcpSocket* socket = it->second;
    sockets_.erase(it);
    socket->disconnect(this);
    if (how == DropKind::Abort) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(CloseGraceMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
}

void LobbyServer::send(ConnectionId to, std::string_view message)
{
    auto it = sockets_.find(to);
    if (it == sockets_.end())
        return;
    QTcpSocket* socket = it->second;
    const auto limit = static_cast<qint64>(outputLimit_);
    if (socket->bytesToWrite() > limit)
        return; // already on its way out
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(message.size()) + 1);
    bytes.append(message.data(), static_cast<qsizetype>(message.size()));
    bytes.append(MsgEnd);
    socket->write(bytes);
    if (socket->bytesToWrite() > limit)
        overfull_.push_back(to);
}

void LobbyServer::drop(ConnectionId who, DropKind how)
{
    forget(who, how);
}

void LobbyServer::note(std::string_view line)
{
    if (log_)
        log_(line);
}

} // namespace stonecall::server
