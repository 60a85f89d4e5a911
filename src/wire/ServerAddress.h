#pragma once
// A lobby server's address as a person writes it: HOST or HOST:PORT, where HOST is a host
// name, an IPv4 address or an IPv6 address in brackets ([::1]:13511).

#include <optional>
#include <string>
#include <string_view>

namespace stonecall {

struct ServerAddress {
    std::string host; // an IPv6 address without its brackets
    int port = 0;

    friend bool operator==(const ServerAddress&, const ServerAddress&) = default;
};

// The address, with `defaultPort` where none is written; nothing when it is not one: an empty
// host, a port that is not a decimal number from 1 to 65535, an IPv6 address without
// brackets, or a character that belongs in no host name.
std::optional<ServerAddress> parseServerAddress(std::string_view text, int defaultPort);

} // namespace stonecall
