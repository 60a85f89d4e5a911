#include "OpenFiles.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace stonecall::server {

namespace {

std::string limitText(rlim_t limit)
{
    return limit == RLIM_INFINITY ? std::string("unlimited") : std::to_string(limit);
}

} // namespace

std::string raiseOpenFileLimit(std::size_t wanted)
{
    struct rlimit limit = {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::string("open files: limit unknown: ") + std::strerror(errno);
    std::string line = "open files: soft limit " + limitText(limit.rlim_cur) + ", hard limit " +
                       limitText(limit.rlim_max);
    if (limit.rlim_cur != limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) == 0) {
            line += "; soft limit raised to " + limitText(limit.rlim_cur);
        } else {
            line += std::string("; cannot raise the soft limit: ") + std::strerror(errno);
            limit.rlim_cur = before;
        }
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted)
        line += "; below the " + std::to_string(wanted) +
                " a full lobby needs: new connections wait while none is free";
    return line;
}

} // namespace stonecall::server
