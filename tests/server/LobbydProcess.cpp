#include "LobbydProcess.h"

#include "wire/Encryptor.h"
#include "wire/Wire.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace stonecall::test {

namespace {

using Clock = std::chrono::steady_clock;

// In a child process: becomes stonecall-lobbyd on a free port with the given arguments.
[[noreturn]] void execLobbyd(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(),
                     {STONECALL_LOBBYD, "--port", "0", "--shutdown-notice", "0"});
    std::vector<char*> argv;
    for (std::string& arg : arguments)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(STONECALL_LOBBYD, argv.data());
    _exit(127);
}

} // namespace

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string tempPath(const char* stem)
{
    std::string name = std::string("/tmp/") + stem + "-XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd >= 0)
        close(fd);
    return name;
}

Lobbyd::Lobbyd(const std::vector<std::string>& options, rlim_t openFiles,
               const std::string& configuration)
    : configPath_(tempPath("lobbyd-test-conf"))
{
    writeFile(configPath_, configuration);
    char logName[] = "/tmp/lobbyd-test-XXXXXX";
    const int logFd = mkstemp(logName);
    logPath_ = logName;
    int out[2];
    if (logFd < 0 || pipe(out) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        if (openFiles) {
            const struct rlimit limit = {openFiles, openFiles};
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        dup2(out[1], STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        close(logFd);
        std::vector<std::string> args{"--config", configPath_};
        args.insert(args.end(), options.begin(), options.end());
        execLobbyd(std::move(args));
    }
    close(out[1]);
    close(logFd);
    std::string text;
    char buffer[256];
    pollfd p{out[0], POLLIN, 0};
    while (text.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    const auto at = text.find("listening on port ");
    if (at != std::string::npos)
        port_ = std::atoi(text.c_str() + at + 18);
}

Lobbyd::~Lobbyd()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    unlink(logPath_.c_str());
    unlink(configPath_.c_str());
}

void Lobbyd::signal(int number) const
{
    kill(pid_, number);
}

bool Lobbyd::logged(const std::string& text, std::size_t from) const
{
    return findLogged(text, from) != std::string::npos;
}

std::size_t Lobbyd::findLogged(const std::string& text, std::size_t from, int seconds) const
{
    // Woken by each write the server makes to its log, not by a clock: the watch is set
    // before the first look so that no line can slip between the look and the wait.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, logPath_.c_str(), IN_MODIFY) < 0) {
        if (watch >= 0)
            close(watch);
        return std::string::npos;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    std::size_t at = std::string::npos;
    for (;;) {
        const std::string all = log();
        if (all.size() > from && (at = all.find(text, from)) != std::string::npos)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{watch, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
            break;
        char events[4096];
        while (read(watch, events, sizeof events) > 0) {
        }
    }
    close(watch);
    return at;
}

std::string Lobbyd::log() const
{
    std::ifstream file(logPath_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

double Lobbyd::cpuSeconds() const
{
    std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(file, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::stoull(field);
        if (i == 15)
            system = std::stoull(field);
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long Lobbyd::memoryKiB(const std::string& key) const
{
    std::ifstream file("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(file, line))
        if (line.rfind(key + ":", 0) == 0)
            return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

long Lobbyd::heapInUseKiB() const
{
    const std::size_t before = log().size();
    kill(pid_, SIGUSR1);
    const std::string line = "heap in use ";
    const std::size_t at = findLogged(line, before);
    return at == std::string::npos ? -1 : std::atol(log().c_str() + at + line.size());
}

Crowd::~Crowd()
{
    for (Peer& p : peers_)
        if (p.fd >= 0)
            close(p.fd);
}

std::size_t Crowd::open(const std::string& hello)
{
    Peer p;
    p.fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(p.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(p.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        p.closed = true;
    fcntl(p.fd, F_SETFL, O_NONBLOCK);
    peers_.push_back(std::move(p));
    if (!hello.empty())
        send(peers_.size() - 1, hello);
    return peers_.size() - 1;
}

void Crowd::send(std::size_t i, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size() && !peers_[i].closed) {
        const ssize_t n =
            ::send(peers_[i].fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (errno == EAGAIN)
            pump(1);
        else
            peers_[i].closed = true;
    }
}

void Crowd::shut(std::size_t i)
{
    close(peers_[i].fd);
    peers_[i].fd = -1;
    peers_[i].closed = true;
}

void Crowd::pump(int ms, const std::vector<bool>* deaf)
{
    fds_.clear();
    index_.clear();
    for (std::size_t i = 0; i < peers_.size(); ++i) {
        if (peers_[i].closed || (deaf && (*deaf)[i]))
            continue;
        fds_.push_back({peers_[i].fd, POLLIN, 0});
        index_.push_back(i);
    }
    if (poll(fds_.data(), fds_.size(), ms) <= 0)
        return;
    for (std::size_t k = 0; k < fds_.size(); ++k) {
        if (!fds_[k].revents)
            continue;
        Peer& p = peers_[index_[k]];
        for (;;) {
            const ssize_t n = read(p.fd, buffer_, sizeof buffer_);
            if (n == 0 || (n < 0 && errno != EAGAIN)) {
                p.closed = true;
                break;
            }
            if (n < 0)
                break;
            p.partial.append(buffer_, static_cast<std::size_t>(n));
            std::size_t start = 0, end;
            while ((end = p.partial.find(MsgEnd, start)) != std::string::npos) {
                const std::string_view message(p.partial.data() + start, end - start);
                ++p.messages;
                if (p.record)
                    p.inbox.emplace_back(message);
                if (onMessage_)
                    onMessage_(index_[k], message);
                start = end + 1;
            }
            p.partial.erase(0, start);
        }
    }
}

bool Crowd::until(const std::function<bool()>& condition, int seconds,
                  const std::vector<bool>* deaf)
{
    // Only what a peer reads can change the condition: each pass waits for that, as long
    // as the deadline allows.
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0)
            return false;
        pump(static_cast<int>(left.count()) + 1, deaf);
    }
    return true;
}

TempFolder::TempFolder()
{
    char name[] = "/tmp/lobbyd-test-dir-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
}

TempFolder::~TempFolder()
{
    if (!path_.empty())
        std::system(("rm -rf '" + path_ + "'").c_str());
}

std::pair<int, std::string> runToEnd(const std::vector<std::string>& arguments)
{
    int err[2];
    if (pipe(err) != 0)
        return {-1, "no pipe"};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(err[0]);
        close(err[1]);
        execLobbyd(arguments);
    }
    close(err[1]);
    std::string text;
    char buffer[256];
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    const auto left = [&] {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<long long>(ms.count(), 0));
    };
    // Its standard error to its end, then its exit (a pidfd), both events up to one deadline.
    pollfd p{err[0], POLLIN, 0};
    while (poll(&p, 1, left()) > 0) {
        const ssize_t n = read(err[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(err[0]);
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd end{exited, POLLIN, 0};
    const bool ended = exited >= 0 && poll(&end, 1, left()) > 0;
    if (exited >= 0)
        close(exited);
    int status = 0;
    if (!ended) {
        kill(pid, SIGKILL); // still running: it took the configuration
        waitpid(pid, &status, 0);
        return {-1, text};
    }
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::pair<int, std::string> lobbyctl(const std::string& socket, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {STONECALL_LOBBYCTL, "--socket", socket});
    int out[2];
    if (pipe(out) != 0)
        return {-1, "no pipe"};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (std::string& arg : arguments)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(STONECALL_LOBBYCTL, argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

std::string hello(const std::string& name)
{
    return framed(msg("VERSION", {"1"})) + framed(msg("LOGIN", {name, "127.0.0.1"}));
}

std::string chatLine(std::string_view text)
{
    return framed(say(text));
}

bool heard(const Crowd::Peer& peer, const Message& message)
{
    return std::find(peer.inbox.begin(), peer.inbox.end(), message.bytes) != peer.inbox.end();
}

void logIn(Crowd& crowd, int count, const std::string& prefix)
{
    std::size_t loggedIn = 0, heardLast = 0;
    const std::string last = makeCommand("USERSTATE", {std::to_string(count), "IDLE"});
    crowd.onMessage([&](std::size_t, std::string_view m) {
        if (m.rfind("LOGIN\xA4", 0) == 0)
            ++loggedIn;
        else if (m == last)
            ++heardLast;
    });
    for (int i = 0; i < count; ++i)
        crowd.open(hello(prefix + std::to_string(i)));
    const auto size = static_cast<std::size_t>(count);
    ASSERT_TRUE(crowd.until([&] { return loggedIn == size && heardLast + 1 == size; }, 120));
    crowd.onMessage(nullptr);
}

std::size_t enterAs(Crowd& crowd, const std::string& name, bool& in)
{
    const std::size_t i = crowd.open(hello(name));
    crowd[i].record = true;
    crowd.until([&] {
        return crowd[i].closed ||
               std::any_of(crowd[i].inbox.begin(), crowd[i].inbox.end(),
                           [](const std::string& m) { return m.rfind("LOGIN\xA4", 0) == 0; });
    });
    in = !crowd[i].closed;
    return i;
}

std::size_t enter(Crowd& crowd, const std::string& name)
{
    bool in = false;
    const std::size_t i = enterAs(crowd, name, in);
    EXPECT_TRUE(in) << name;
    return i;
}

bool refused(Crowd& crowd, const std::string& name)
{
    bool in = true;
    enterAs(crowd, name, in);
    return !in;
}

} // namespace stonecall::test
