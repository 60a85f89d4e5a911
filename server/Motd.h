#pragma once
// The message of the day: plain lines, sent one MOTDLINE each.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::server {

inline constexpr std::size_t MaxMotdLines = 200;
inline constexpr std::size_t MaxMotdLineLength = 512;

// The lines shown when no file is given.
std::vector<std::string> defaultMotd();

// The lines of a file's bytes: split at line feeds, a carriage return before one dropped,
// no line after a final line feed. Lines beyond MaxMotdLines are left out and longer lines
// cut, so a large file cannot make every log-in expensive.
std::vector<std::string> motdFromText(std::string_view text);

} // namespace stonecall::server
