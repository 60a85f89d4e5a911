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
    std::size_t unsentBytes() const override;
    std::string LocalIP() const override;
    void setLocalPort(int port) override { localPort_ = port; }
    int LocalPort() const override { return localPort_; }
    void Accept(int requestId) override;

    // How long a connection attempt may take before it counts as failed.
    static constexpr int ConnectTimeoutMs = 15000;
    void setConnectTimeout(int ms) { connectTimer_.setInterval(ms); }

    // The reasons onError gives, short enough for the login window's status line.
    static constexpr const char* RefusedReason = "refused";
    static constexpr const char* NotFoundReason = "not found";
    static constexpr const char* NoAnswerReason = "no answer";
    static constexpr const char* NetworkReason = "no network";
    static constexpr const char* FailedReason = "failed";
    // At most this many bytes are read from the system per arrival: as much as the longest
    // message the client takes, so a flood is handled in bounded steps between which the
    // window's event loop turns.
    static constexpr qint64 ReadPortion = 1024 * 1024;

private:
    void onErrorOccurred(QAbstractSocket::SocketError error);
    void onConnectTimeout();

    // What the system has not taken yet is handed over once this much waits.
    static constexpr qint64 FlushAbove = 64 * 1024;

    QTcpSocket socket_;
    QTimer connectTimer_;
    int localPort_ = 0;
    bool closing_ = false; // closed by us: no further events reach the client
    qint64 flushedTo_ = 0; // what was left unsent after the last flush
};

} // namespace stonecall
