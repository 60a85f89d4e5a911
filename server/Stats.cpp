#include "Stats.h"

#include <unistd.h>

#include <cstdio>

namespace stonecall::server {

namespace {

void figure(std::string& out, const char* name, const char* type, const char* help,
            std::uint64_t value)
{
    out += std::string("# HELP stonecall_") + name + " " + help + "\n# TYPE stonecall_" + name +
           " " + type + "\nstonecall_" + name + " " + std::to_string(value) + "\n";
}

// A label value as the format quotes it.
std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

} // namespace

std::string prometheusText(const LobbyFigures& f)
{
    std::string out;
    figure(out, "users", "gauge", "Users logged in.", f.users);
    figure(out, "connections", "gauge", "Connections open, logged in or not.", f.connections);
    figure(out, "connections_logging_in", "gauge", "Connections not logged in yet.", f.loggingIn);
    figure(out, "messages_received_total", "counter", "Messages received from peers.",
           f.messagesIn);
    figure(out, "received_bytes_total", "counter", "Bytes received from peers.", f.bytesIn);
    figure(out, "messages_sent_total", "counter", "Messages sent to peers.", f.messagesOut);
    figure(out, "sent_bytes_total", "counter", "Bytes sent to peers.", f.bytesOut);
    out += "# HELP stonecall_refused_logins_total Log-ins refused, by reason.\n"
           "# TYPE stonecall_refused_logins_total counter\n";
    for (const auto& [reason, count] : f.refusals)
        out += "stonecall_refused_logins_total{reason=" + quoted(reason) + "} " +
               std::to_string(count) + "\n";
    figure(out, "bans", "gauge", "Bans in force.", f.bans);
    figure(out, "resident_memory_bytes", "gauge", "Resident memory of the server.",
           f.residentBytes);
    return out;
}

std::uint64_t residentBytes()
{
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    std::fclose(statm);
    return static_cast<std::uint64_t>(resident) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

} // namespace stonecall::server
