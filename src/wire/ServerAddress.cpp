#include "wire/ServerAddress.h"

#include <algorithm>

namespace stonecall {

namespace {

bool isAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Host names and IPv4 addresses: letters, digits, dots, hyphens, and underscores, which some
// local names carry.
bool isHostName(std::string_view host)
{
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
        return isAsciiAlnum(c) || c == '.' || c == '-' || c == '_';
    });
}

// What stands between the brackets: hexadecimal groups and colons, a dotted IPv4 tail, and a
// zone after '%'.
bool isIPv6(std::string_view host)
{
    const std::string_view address = host.substr(0, host.find('%'));
    const std::string_view zone =
        address.size() < host.size() ? host.substr(address.size() + 1) : std::string_view("-");
    return address.find(':') != std::string_view::npos && address.size() <= 45 &&
           std::all_of(address.begin(), address.end(),
                       [](char c) {
                           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                                  (c >= 'A' && c <= 'F') || c == ':' || c == '.';
                       }) &&
           !zone.empty() && std::all_of(zone.begin(), zone.end(), [](char c) {
               return isAsciiAlnum(c) || c == '.' || c == '-' || c == '_';
           });
}

std::optional<int> parsePort(std::string_view digits)
{
    if (digits.empty() || digits.size() > 5)
        return std::nullopt;
    int port = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

std::optional<ServerAddress> parseServerAddress(std::string_view text, int defaultPort)
{
    std::string_view host, rest;
    if (text.starts_with('[')) {
        const auto close = text.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!isIPv6(host))
            return std::nullopt;
    } else {
        const auto colon = text.find(':');
        host = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
        if (!isHostName(host))
            return std::nullopt; // an IPv6 address without brackets ends up here too
    }
    int port = defaultPort;
    if (!rest.empty()) {
        if (rest.front() != ':')
            return std::nullopt;
        const auto written = parsePort(rest.substr(1));
        if (!written)
            return std::nullopt;
        port = *written;
    }
    return ServerAddress{std::string(host), port};
}

} // namespace stonecall
