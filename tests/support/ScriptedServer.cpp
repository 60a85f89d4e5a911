#include "ScriptedServer.h"

#include "WaitFor.h"
#include "wire/Wire.h"

#include <QHostAddress>

namespace stonecall::testing {

ScriptedServer::ScriptedServer()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            const auto index = connections_.size();
            connections_.append(socket);
            received_.append(QByteArray());
            open_.append(true);
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket, index] { received_[index] += socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket, index] {
                received_[index] += socket->readAll();
                open_[index] = false;
            });
        }
    });
}

ScriptedServer::~ScriptedServer()
{
    // The sockets die with the server after our lists; they must not call back into them.
    for (QTcpSocket* socket : connections_)
        QObject::disconnect(socket, nullptr, this, nullptr);
}

std::string ScriptedServer::received(int index) const
{
    const QByteArray& bytes = received_.at(index);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::vector<std::string> ScriptedServer::messages(int index) const
{
    std::vector<std::string> result;
    const std::string bytes = received(index);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find(MsgEnd, start)) != std::string::npos; start = end + 1)
        result.push_back(bytes.substr(start, end - start));
    return result;
}

void ScriptedServer::send(int index, const std::string& bytes)
{
    connections_.at(index)->write(bytes.data(), static_cast<qint64>(bytes.size()));
    connections_.at(index)->flush();
}

void ScriptedServer::sendMessage(int index, const std::string& message)
{
    send(index, message + MsgEnd);
}

void ScriptedServer::disconnect(int index)
{
    connections_.at(index)->disconnectFromHost();
}

bool ScriptedServer::isOpen(int index) const
{
    return open_.at(index);
}

bool ScriptedServer::waitForConnections(int count, int timeoutMs)
{
    return waitFor([&] { return connectionCount() >= count; }, timeoutMs);
}

bool ScriptedServer::waitForMessages(int index, std::size_t count, int timeoutMs)
{
    return waitFor([&] { return connectionCount() > index && messages(index).size() >= count; },
                   timeoutMs);
}

bool ScriptedServer::waitForClosed(int index, int timeoutMs)
{
    return waitFor([&] { return !isOpen(index); }, timeoutMs);
}

} // namespace stonecall::testing
