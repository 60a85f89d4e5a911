#pragma once
// The lobby on real sockets: one thread, event-driven. Accepts connections, feeds their
// bytes to the Lobby, writes what it answers and carries out its drops. Output to a peer
// that does not read is capped; going over the cap drops the peer.

#include "Lobby.h"

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <functional>
#include <map>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace stonecall::server {

struct ServerConfig {
    LobbyConfig lobby;
    std::chrono::milliseconds pingInterval{30000}; // 0: no pings and no challenges
    // Bytes that may wait for a peer; 0 derives it from maxUsers so a full user list fits.
    std::size_t outputLimit = 0;
    int socketSendBuffer = 0; // kernel send buffer of accepted sockets; 0: the system's
};

class LobbyServer : public QObject, private Outbox {
public:
    explicit LobbyServer(ServerConfig config, QObject* parent = nullptr);
    ~LobbyServer() override;

    // Port 0 lets the system choose; port() then tells which.
    bool listen(const QHostAddress& address = QHostAddress::Any, quint16 port = 0);
    quint16 port() const;
    QString errorString() const;

    const Lobby& lobby() const { return lobby_; }
    void setLog(std::function<void(std::string_view)> log) { log_ = std::move(log); }

private:
    void acceptConnections();
    void readFrom(ConnectionId id);
    void lost(ConnectionId id);
    void settle();
    void forget(ConnectionId id, DropKind how);

    void send(ConnectionId to, std::string_view message) override;
    void drop(ConnectionId who, DropKind how) override;
    void note(std::string_view line) override;

    ServerConfig config_;
    std::size_t outputLimit_;
    std::size_t maxConnections_;
    Lobby lobby_;
    QTcpServer* server_;
    QTimer* ticker_;
    std::map<ConnectionId, QTcpSocket*> sockets_;
    std::vector<ConnectionId> overfull_;
    ConnectionId nextId_ = 1;
    std::function<void(std::string_view)> log_;
};

} // namespace stonecall::server
