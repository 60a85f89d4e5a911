#pragma once
// One server under test: started with the descriptor limit raised to the hard limit, watched
// through /proc (CPU time, resident memory) and stopped at the end. Nothing but its command
// line is assumed.

#include <sys/types.h>

#include <string>
#include <vector>

namespace stonecall::bench {

class ServerProcess {
public:
    // Starts `argv` with stdout and stderr going to `logPath`, then waits until something
    // takes connections on 127.0.0.1:`port`.
    ServerProcess(std::vector<std::string> argv, const std::string& logPath, int port);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // User and system time of all its threads so far, in seconds.
    double cpuSeconds() const;
    // VmRSS in KiB.
    long residentKiB() const;
    // Throws when the process has ended.
    void checkAlive();
    // SIGTERM, then SIGKILL when it is not gone within a few seconds.
    void stop();

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// A port on 127.0.0.1 that nothing listens on right now.
int freeLoopbackPort();

} // namespace stonecall::bench
