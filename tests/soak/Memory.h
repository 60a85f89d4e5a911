#pragma once
// Memory and file figures of the running process, for the soak and hostile-server drivers.

#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace stonecall::testing {

// Resident set size now, in KiB.
inline std::size_t residentKiB()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

// The highest resident set size so far, in KiB.
inline std::size_t peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    std::size_t value = 0;
    while (status >> key) {
        if (key == "VmHWM:") {
            status >> value;
            return value;
        }
        status.ignore(256, '\n');
    }
    return 0;
}

// Bytes the C heap has handed out and not had back (zero under a sanitizer's allocator).
inline std::size_t heapInUse()
{
    return mallinfo2().uordblks;
}

// File descriptors open now (sockets included).
inline std::size_t openFiles()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

} // namespace stonecall::testing
