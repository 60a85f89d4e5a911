#pragma once
// Peer addresses as text: IPv4, IPv6 (with or without a zone) and IPv4-mapped IPv6, which is
// taken as the IPv4 address it carries; CIDR ranges of both; and the key an address counts
// under for the per-address limits, where an IPv6 peer counts by its network (its /64 by
// default), since one subscriber is handed a whole /64.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stonecall::server {

inline constexpr int DefaultIpv6Prefix = 64;

struct IpAddress {
    bool v4 = false;
    // An IPv4 address in the first four bytes; IPv6 in all sixteen.
    std::array<std::uint8_t, 16> bytes{};

    int bits() const { return v4 ? 32 : 128; }
    bool loopback() const;
    // The usual short text (no zone): "203.0.113.5", "2001:db8::1".
    std::string text() const;
    // The address with all but the first `prefix` bits cleared.
    IpAddress masked(int prefix) const;
    friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

// An address, or nothing when `text` is not one. A zone ("%eth0") is allowed and dropped.
std::optional<IpAddress> parseAddress(std::string_view text);

struct AddressRange {
    IpAddress network; // host bits cleared
    int prefix = 0;

    bool contains(const IpAddress& address) const;
    // "203.0.113.0/24", "2001:db8::/32".
    std::string text() const;
};

// "address/length" (the host bits may be set: they are cleared), or nothing. A range of
// IPv4-mapped IPv6 addresses (::ffff:0:0/96 and longer) is the IPv4 range it maps.
std::optional<AddressRange> parseRange(std::string_view text);

// The key `address` counts under: an IPv4 address whole ("203.0.113.5"), an IPv6 address by
// its first `ipv6Prefix` bits ("2001:db8:1:2::/64", the address itself at 128). Text that is
// no address (tests, a transport that does not know) is its own key.
std::string addressKey(std::string_view address, int ipv6Prefix = DefaultIpv6Prefix);

// True when `address` parses and is a loopback address (127.0.0.0/8, ::1, ::ffff:127.x.y.z).
bool isLoopbackAddress(std::string_view address);

// True when `text`, without blanks at either end, is an IPv4 or IPv6 address or a CIDR range
// of either: a user name like that would be mistaken for an address by the operator's tools.
bool looksLikeAddress(std::string_view text);

} // namespace stonecall::server
