#include "ControlSocket.h"

#include <asio/write.hpp>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace stonecall::server {

struct ControlSocket::Client {
    explicit Client(asio::local::stream_protocol::socket s)
        : socket(std::move(s)), idle(socket.get_executor())
    {}
    asio::local::stream_protocol::socket socket;
    asio::steady_timer idle;
    std::string input;
    std::string output;
    char buffer[1024];
    bool closed = false;
    bool closing = false; // the reply being written is the last
};

namespace {

// With every descriptor taken, accepting is tried again after this long, in case one came
// free elsewhere in the server.
constexpr auto AcceptRetry = std::chrono::seconds(1);

bool outOfDescriptors(const std::error_code& error)
{
    if (error.category() != asio::error::get_system_category())
        return false;
    const int number = error.value();
    return number == EMFILE || number == ENFILE || number == ENOBUFS || number == ENOMEM;
}

int openReserve()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// Whether a server listens on the socket at `path`: nothing when that cannot be told.
std::optional<bool> listenedOn(const std::string& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    if (result == 0)
        return true;
    if (error == ECONNREFUSED)
        return false;
    return std::nullopt;
}

} // namespace

ControlSocket::ControlSocket(asio::io_context& io, Control& control, Log* log)
    : control_(control), log_(log), acceptor_(io), retry_(io)
{}

ControlSocket::~ControlSocket()
{
    std::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
    for (auto& client : std::vector(clients_))
        close(client);
    if (reserve_ >= 0)
        ::close(reserve_);
    struct stat st {};
    if (!path_.empty() && lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) &&
        st.st_dev == device_ && st.st_ino == inode_)
        unlink(path_.c_str());
}

std::optional<std::string> ControlSocket::open(const std::string& path)
{
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path))
        return path + ": a socket path must be 1 to " +
               std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes long";
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return path + ": something other than a socket is there; it is left alone";
        const auto listened = listenedOn(path);
        if (!listened)
            return path + ": cannot tell whether a server listens on it: " + std::strerror(errno);
        if (*listened)
            return path + ": another server listens on it";
        unlink(path.c_str()); // left by a server that stopped without removing it
    } else if (errno != ENOENT) {
        return path + ": " + std::strerror(errno);
    }
    std::error_code error;
    acceptor_.open(asio::local::stream_protocol(), error);
    if (!error) {
        // Owner-only from the moment it exists: no window in which others could connect.
        const mode_t before = umask(0177);
        acceptor_.bind(asio::local::stream_protocol::endpoint(path), error);
        umask(before);
    }
    if (!error)
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        std::error_code ignored;
        acceptor_.close(ignored);
        return path + ": " + error.message();
    }
    if (lstat(path.c_str(), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    path_ = path;
    reserve_ = openReserve();
    accept();
    return std::nullopt;
}

void ControlSocket::accept()
{
    acceptor_.async_accept(
        [this](const std::error_code& error, asio::local::stream_protocol::socket socket) {
            if (error == asio::error::operation_aborted)
                return;
            if (error) {
                acceptFailed(error);
                return;
            }
            admit(std::move(socket));
            accept();
        });
}

void ControlSocket::acceptFailed(const std::error_code& error)
{
    if (!outOfDescriptors(error)) {
        accept(); // the client gave up before it was taken
        return;
    }
    if (reserve_ >= 0) {
        // The operator's connection waits in the backlog: the reserve makes room for it.
        ::close(reserve_);
        reserve_ = -1;
        std::error_code e;
        acceptor_.non_blocking(true, e);
        asio::local::stream_protocol::socket socket = acceptor_.accept(e);
        if (!e) {
            note(LogLevel::Warning, "control: no descriptor free; the one kept in reserve "
                                    "takes the operator's connection");
            admit(std::move(socket));
        }
        reserve_ = e ? openReserve() : -1;
    }
    // The waiting client stays in the backlog; trying again now would fail again at once.
    if (!paused_)
        note(LogLevel::Warning,
             "control: accept: " + error.message() + "; waiting for a descriptor to come free");
    paused_ = true;
    retry_.expires_after(AcceptRetry);
    retry_.async_wait([this](const std::error_code& e) {
        if (!e)
            resume();
    });
}

void ControlSocket::resume()
{
    if (!paused_ || !acceptor_.is_open())
        return;
    paused_ = false;
    retry_.cancel();
    accept();
}

void ControlSocket::admit(asio::local::stream_protocol::socket socket)
{
    if (clients_.size() >= MaxConnections) {
        note(LogLevel::Warning, "control: refused a connection: too many at once");
        std::error_code ignored;
        socket.non_blocking(true, ignored);
        asio::write(socket, asio::buffer(std::string_view("error: too many control connections\n")),
                    ignored);
        socket.close(ignored);
        return;
    }
    auto client = std::make_shared<Client>(std::move(socket));
    clients_.push_back(client);
    note(LogLevel::Debug, "control: connected");
    armIdle(client);
    read(client);
}

void ControlSocket::read(const std::shared_ptr<Client>& client)
{
    client->socket.async_read_some(asio::buffer(client->buffer),
                                   [this, client](const std::error_code& error, std::size_t count) {
                                       if (client->closed)
                                           return;
                                       if (error) {
                                           close(client);
                                           return;
                                       }
                                       client->input.append(client->buffer, count);
                                       serve(client);
                                   });
}

void ControlSocket::serve(const std::shared_ptr<Client>& client)
{
    const std::size_t end = client->input.find('\n');
    if (end == std::string::npos ? client->input.size() >= MaxControlLine
                                 : end + 1 > MaxControlLine) {
        note(LogLevel::Warning,
             "control: refused a line over " + std::to_string(MaxControlLine) + " bytes");
        reply(client, "error: a line is at most " + std::to_string(MaxControlLine) + " bytes\n",
              true);
        return;
    }
    if (end == std::string::npos) {
        read(client);
        return;
    }
    const std::string line = client->input.substr(0, end);
    client->input.erase(0, end + 1);
    note(LogLevel::Debug, "control: " + line);
    reply(client, control_.execute(line), false);
}

void ControlSocket::reply(const std::shared_ptr<Client>& client, std::string text, bool thenClose)
{
    // One reply at a time: nothing more is read or run until this one is out.
    client->output = std::move(text);
    client->closing = thenClose;
    armIdle(client);
    asio::async_write(client->socket, asio::buffer(client->output),
                      [this, client](const std::error_code& error, std::size_t) {
                          if (client->closed)
                              return;
                          if (error || client->closing) {
                              close(client);
                              return;
                          }
                          client->output.clear();
                          client->output.shrink_to_fit();
                          armIdle(client);
                          serve(client);
                      });
}

void ControlSocket::armIdle(const std::shared_ptr<Client>& client)
{
    client->idle.expires_after(IdleTime);
    client->idle.async_wait([this, client](const std::error_code& error) {
        if (error || client->closed)
            return;
        note(LogLevel::Debug, "control: closed an idle connection");
        close(client);
    });
}

void ControlSocket::close(const std::shared_ptr<Client>& client)
{
    if (client->closed)
        return;
    client->closed = true;
    std::error_code ignored;
    client->socket.close(ignored);
    client->idle.cancel();
    std::erase(clients_, client);
    // A descriptor is free again: the reserve first, then the next client.
    if (reserve_ < 0)
        reserve_ = openReserve();
    resume();
}

void ControlSocket::note(LogLevel level, const std::string& text)
{
    if (log_ && log_->enabled(level))
        log_->write(level, text);
}

} // namespace stonecall::server
