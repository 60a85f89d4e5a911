#pragma once
// A lobby peer on a real loopback socket that a test scripts: it records the exact bytes it
// receives and sends what the test tells it to.

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <string>
#include <vector>

namespace stonecall::testing {

class ScriptedServer : public QObject {
    Q_OBJECT
public:
    ScriptedServer();
    ~ScriptedServer() override;
    int port() const { return server_.serverPort(); }

    // Connections accepted so far, in order; the last one is the current peer.
    int connectionCount() const { return static_cast<int>(connections_.size()); }
    QTcpSocket* connection(int index) const { return connections_.at(index); }
    // Bytes received on one connection.
    std::string received(int index) const;
    // The messages (without their end mark) received on one connection.
    std::vector<std::string> messages(int index) const;

    void send(int index, const std::string& bytes);
    void sendMessage(int index, const std::string& message); // adds the end mark
    void disconnect(int index);
    bool isOpen(int index) const;

    bool waitForConnections(int count, int timeoutMs = 5000);
    bool waitForMessages(int index, std::size_t count, int timeoutMs = 5000);
    bool waitForClosed(int index, int timeoutMs = 5000);

private:
    QTcpServer server_;
    QList<QTcpSocket*> connections_;
    QList<QByteArray> received_;
    QList<bool> open_;
};

} // namespace stonecall::testing
