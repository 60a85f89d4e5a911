#include "Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace stonecall::server {

namespace {

constexpr const char* LevelNames[] = {"error", "warning", "info", "debug"};
// syslog priorities, as the journal reads them from a line's start.
constexpr char JournalPriority[] = {'3', '4', '6', '7'};

void appendEscaped(std::string& out, unsigned char c)
{
    static constexpr char Hex[] = "0123456789abcdef";
    out += "\\x";
    out += Hex[c >> 4];
    out += Hex[c & 15];
}

} // namespace

Log::Log(Sink sink) : sink_(std::move(sink)) {}

void Log::write(LogLevel level, std::string_view text)
{
    if (!enabled(level) || !sink_)
        return;
    const auto at = static_cast<std::size_t>(level);
    line_.clear();
    if (journal_) {
        line_ += '<';
        line_ += JournalPriority[at];
        line_ += '>';
    } else {
        const auto now = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char stamp[96];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ ",
                      utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                      utc.tm_sec, static_cast<int>(millis));
        line_ += stamp;
        line_ += LevelNames[at];
        line_ += ": ";
    }
    line_ += printable(text);
    sink_(line_);
}

std::optional<LogLevel> Log::levelNamed(std::string_view name)
{
    for (std::size_t i = 0; i < std::size(LevelNames); ++i)
        if (name == LevelNames[i])
            return static_cast<LogLevel>(i);
    return std::nullopt;
}

const char* Log::nameOf(LogLevel level)
{
    return LevelNames[static_cast<std::size_t>(level)];
}

std::string Log::printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        // Below blank, delete, the C1 range (where the character set has punctuation the
        // log cannot tell from codes), no-break space and soft hyphen are shown as codes.
        if (c < 0x20 || (c >= 0x7f && c <= 0xa0) || c == 0xad || c == '\\') {
            appendEscaped(out, c);
        } else if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    }
    return out;
}

} // namespace stonecall::server
