#pragma once

#include "platform/Socket.h"

#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

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
    // After Close, what was sent before it still goes out, and then the connection is ended
    // gracefully: once all of it has reached the peer, or after this long (a peer that does
    // not read never gets it). At the end of the run, the program waits as long at most.
    static constexpr std::chrono::milliseconds FarewellTime{2000};

    ~QtSocket() override;

    // Connections closed but still handing their last messages over.
    std::size_t closingConnections() const { return farewells_.size(); }

private:
    // Messages for one connection, handed to the system whole: a message goes only when the
    // system has room for all of it, so a connection that ends with messages still waiting
    // leaves none half sent.
    struct Outgoing {
        int fd = -1;
        std::deque<std::string>
            messages; // the first may be the rest of one the system took in part
        std::size_t bytes = 0;
        bool frontStarted = false;
        std::size_t assumedQueued = 0; // in the system and not yet taken by the peer, at least
        std::size_t room = 0;          // how much the system may hold of ours
        void send(std::string_view message);
        bool drain(); // false: the connection failed
        bool systemTakes(std::size_t size);
        std::size_t systemQueued() const;
    };
    struct Farewell {
        Outgoing out;
        std::chrono::steady_clock::time_point deadline;
        bool shut = false;
        std::size_t discarded = 0; // what the peer sent after Close
        static constexpr std::size_t MaxDiscarded = 1024 * 1024;
        bool step(); // true once the connection is done with
    };

    void onErrorOccurred(QAbstractSocket::SocketError error);
    void onConnectTimeout();
    void onWriteTick();
    void scheduleWrites();

    // While messages wait, the system is offered them this often.
    static constexpr int WriteRetryMs = 5;

    QTcpSocket socket_;
    QTimer connectTimer_;
    QTimer writeTimer_;
    Outgoing out_;
    std::vector<Farewell> farewells_;
    int localPort_ = 0;
    bool closing_ = false; // closed by us: no further events reach the client
};

} // namespace stonecall
