#pragma once
// The operator's log: one line per event, at a level, written whole to one sink (standard
// error in the program). Under systemd the journal stamps each line itself and reads a
// "<N>" priority prefix; elsewhere each line starts with the time and the level.

#include "LogLevel.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace stonecall::server {

class Log {
public:
    using Sink = std::function<void(std::string_view line)>; // a line without its line feed

    explicit Log(Sink sink);

    void setLevel(LogLevel level) { level_ = level; }
    LogLevel level() const { return level_; }
    void setJournal(bool journal) { journal_ = journal; }
    bool enabled(LogLevel level) const { return level <= level_; }

    void write(LogLevel level, std::string_view text);

    static std::optional<LogLevel> levelNamed(std::string_view name);
    static const char* nameOf(LogLevel level);

    // Bytes from a peer as one readable line of UTF-8: the single-byte character set's letters
    // as themselves, line breaks, control and invisible codes as \xNN, so a name cannot forge
    // a line of its own or hide what it is.
    static std::string printable(std::string_view text);

private:
    Sink sink_;
    LogLevel level_ = LogLevel::Info;
    bool journal_ = false;
    std::string line_;
};

} // namespace stonecall::server
