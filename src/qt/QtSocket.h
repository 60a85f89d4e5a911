#pragma once

#include "platform/Socket.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

namespace stonecall {

// The socket over QTcpSocket. Wire data stays in QByteArray, one byte per character.
class QtSocket final : public QObject, public Socket {
    Q_OBJECT
public:
    explicit QtSocket(QObject* parent = nullptr);

    void Connect(const std::string& host, int port) override;
    void Close() override;
    void SendData(std::string_view bytes) override;
    std::string GetData(std::size_t maxBytes) override;
    bool isConnected() const override;
    std::string LocalIP() const override;
    void setLocalPort(int port) override { localPort_ = port; }
    int LocalPort() const override { return localPort_; }
    void Accept(int requestId) override;

    // How long a connection attempt may take before it counts as failed.
    static constexpr int ConnectTimeoutMs = 15000;
    // At most this many bytes are read from the system per arrival: as much as the longest
    // message the client takes, so a flood is handled in bounded steps between which the
    // window's event loop turns.
    static constexpr qint64 ReadPortion = 1024 * 1024;

private:
    void onErrorOccurred(QAbstractSocket::SocketError error);
    void onConnectTimeout();

    QTcpSocket socket_;
    QTimer connectTimer_;
    int localPort_ = 0;
    bool closing_ = false; // closed by us: no further events reach the client
};

} // namespace stonecall
