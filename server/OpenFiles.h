#pragma once
// Every connection holds a file descriptor, and the soft limit a service starts with (often
// 1,024) is below what a full lobby needs.

#include <cstddef>
#include <string>

namespace stonecall::server {

// Raises the soft limit on open files to the hard limit. Returns a line for the log with
// both limits, warning when even the hard limit is below `wanted`.
std::string raiseOpenFileLimit(std::size_t wanted);

} // namespace stonecall::server
