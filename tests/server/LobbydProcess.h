#pragma once
// The real stonecall-lobbyd in its own process for tests: the server started with options,
// a configuration file and open-file limit of the test's, crowds of plain loopback sockets
// on one poll loop, the real stonecall-lobbyctl, and the log-in conversation they all need.

#include "WireMessages.h"

#include <sys/resource.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <poll.h>

namespace stonecall::test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
inline constexpr bool Sanitized = true;
#else
inline constexpr bool Sanitized = false;
#endif
#else
inline constexpr bool Sanitized = false;
#endif

void writeFile(const std::string& path, const std::string& text);
// A fresh empty file under /tmp named after `stem`; the caller removes it.
std::string tempPath(const char* stem);

// stonecall-lobbyd started with the given options and a configuration file of its own (so
// the machine's never counts), and optionally with a low limit on open files (soft and hard,
// so the server cannot raise it). It listens on a port the system chooses and stops at once
// when told to (a test that wants the players' notice first says so).
class Lobbyd {
public:
    explicit Lobbyd(const std::vector<std::string>& options, rlim_t openFiles = 0,
                    const std::string& configuration = {});
    ~Lobbyd();
    Lobbyd(const Lobbyd&) = delete;
    Lobbyd& operator=(const Lobbyd&) = delete;

    int port() const { return port_; }
    const std::string& configPath() const { return configPath_; }
    void signal(int number) const;
    // Waits for a log line holding `text` after the first `from` bytes of the log.
    bool logged(const std::string& text, std::size_t from = 0) const;
    // The same wait: where `text` stands in the log, or npos at the deadline.
    std::size_t findLogged(const std::string& text, std::size_t from = 0, int seconds = 10) const;
    std::string log() const;
    // Processor time the server has used, user and system.
    double cpuSeconds() const;
    // A line of /proc/PID/status in KiB (VmRSS, VmHWM).
    long memoryKiB(const std::string& key) const;
    // The heap in use, from the status line SIGUSR1 asks for.
    long heapInUseKiB() const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string configPath_;
    std::string logPath_;
};

// Plain sockets that read whatever comes, all on one poll loop.
class Crowd {
public:
    struct Peer {
        int fd = -1;
        std::string partial;
        std::vector<std::string> inbox; // kept only when the peer records
        bool record = false;
        bool closed = false;
        std::size_t messages = 0;

        // The last message recorded; an empty one when none was.
        Message last() const { return inbox.empty() ? Message() : Message(inbox.back()); }
    };
    using OnMessage = std::function<void(std::size_t, std::string_view)>;

    explicit Crowd(int port) : port_(port) {}
    ~Crowd();
    Crowd(const Crowd&) = delete;
    Crowd& operator=(const Crowd&) = delete;

    // Connects a peer and sends `hello`; its index.
    std::size_t open(const std::string& hello = {});
    void send(std::size_t i, const std::string& bytes);
    void shut(std::size_t i);
    Peer& operator[](std::size_t i) { return peers_[i]; }
    std::size_t size() const { return peers_.size(); }
    void onMessage(OnMessage handler) { onMessage_ = std::move(handler); }

    // Reads from every peer for at most `ms` (readers marked `deaf` are skipped).
    void pump(int ms, const std::vector<bool>* deaf = nullptr);
    // Pumps until the condition holds; false at the deadline.
    bool until(const std::function<bool()>& condition, int seconds = 30,
               const std::vector<bool>* deaf = nullptr);

private:
    int port_;
    std::vector<Peer> peers_;
    std::vector<pollfd> fds_;
    std::vector<std::size_t> index_;
    OnMessage onMessage_;
    char buffer_[65536];
};

// A folder of the test's own, removed at the end with what is in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// stonecall-lobbyd run to its end with the given arguments: its exit status (-1 when it had
// to be killed) and what it wrote to standard error.
std::pair<int, std::string> runToEnd(const std::vector<std::string>& arguments);
// stonecall-lobbyctl run to its end with the given arguments: its exit status and what it
// wrote, standard output and error together.
std::pair<int, std::string> lobbyctl(const std::string& socket, std::vector<std::string> arguments);

// VERSION and LOGIN as bytes on the wire.
std::string hello(const std::string& name);
// A chat line as a user sends it, as bytes on the wire.
std::string chatLine(std::string_view text);
// Whether the recording peer heard `message`.
bool heard(const Crowd::Peer& peer, const Message& message);
// Logs `count` users in, all at once so the server answers them together, and reads until
// everyone has heard of the last of them (a failure is a test failure).
void logIn(Crowd& crowd, int count, const std::string& prefix);
// Logs a recording user in and waits for the server's answer: `in` is true when it let the
// user in, false when it closed the connection. The peer's index.
std::size_t enterAs(Crowd& crowd, const std::string& name, bool& in);
// A recording user that must get in (a test failure otherwise).
std::size_t enter(Crowd& crowd, const std::string& name);
// Whether the server closed the connection instead of letting `name` in.
bool refused(Crowd& crowd, const std::string& name);

} // namespace stonecall::test
