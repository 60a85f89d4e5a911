#include "Address.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace stonecall::server {

namespace {

constexpr std::array<std::uint8_t, 12> MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isMapped(const std::array<std::uint8_t, 16>& bytes)
{
    return std::equal(MappedPrefix.begin(), MappedPrefix.end(), bytes.begin());
}

} // namespace

bool IpAddress::loopback() const
{
    if (v4)
        return bytes[0] == 127;
    static constexpr std::array<std::uint8_t, 16> One = {0, 0, 0, 0, 0, 0, 0, 0,
                                                         0, 0, 0, 0, 0, 0, 0, 1};
    return bytes == One;
}

std::string IpAddress::text() const
{
    char buffer[INET6_ADDRSTRLEN] = {};
    inet_ntop(v4 ? AF_INET : AF_INET6, bytes.data(), buffer, sizeof buffer);
    return buffer;
}

IpAddress IpAddress::masked(int prefix) const
{
    IpAddress result = *this;
    prefix = std::clamp(prefix, 0, bits());
    for (int i = 0; i < 16; ++i) {
        const int kept = std::clamp(prefix - i * 8, 0, 8);
        result.bytes[i] &= static_cast<std::uint8_t>(0xff00u >> kept);
    }
    return result;
}

// The address as written: IPv4-mapped IPv6 stays IPv6.
static std::optional<IpAddress> parseRaw(std::string_view text)
{
    // inet_pton wants a C string and knows no zones; a zone only ever follows IPv6 text.
    const std::size_t zone = text.find('%');
    if (zone != std::string_view::npos) {
        if (zone + 1 == text.size() || text.substr(0, zone).find(':') == std::string_view::npos)
            return std::nullopt;
        text = text.substr(0, zone);
    }
    if (text.empty() || text.size() >= INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string copy(text);
    IpAddress address;
    if (inet_pton(AF_INET, copy.c_str(), address.bytes.data()) == 1) {
        address.v4 = true;
        return address;
    }
    if (inet_pton(AF_INET6, copy.c_str(), address.bytes.data()) != 1)
        return std::nullopt;
    return address;
}

std::optional<IpAddress> parseAddress(std::string_view text)
{
    std::optional<IpAddress> address = parseRaw(text);
    if (address && !address->v4 && isMapped(address->bytes)) {
        std::memmove(address->bytes.data(), address->bytes.data() + 12, 4);
        std::fill(address->bytes.begin() + 4, address->bytes.end(), 0);
        address->v4 = true;
    }
    return address;
}

bool AddressRange::contains(const IpAddress& address) const
{
    return address.v4 == network.v4 && address.masked(prefix) == network;
}

std::string AddressRange::text() const
{
    return network.text() + "/" + std::to_string(prefix);
}

std::optional<AddressRange> parseRange(std::string_view text)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    const std::string_view length = text.substr(slash + 1);
    int prefix = -1;
    const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), prefix);
    if (length.empty() || length.size() > 3 || error != std::errc() ||
        end != length.data() + length.size())
        return std::nullopt;
    // Only a range within the mapped block is an IPv4 range; a wider one is IPv6.
    const std::string_view base = text.substr(0, slash);
    std::optional<IpAddress> address = parseRaw(base);
    if (address && !address->v4 && isMapped(address->bytes) && prefix >= 96 && prefix <= 128) {
        address = parseAddress(base);
        prefix -= 96;
    }
    if (!address)
        return std::nullopt;
    if (prefix < 0 || prefix > address->bits())
        return std::nullopt;
    return AddressRange{address->masked(prefix), prefix};
}

std::string addressKey(std::string_view address, int ipv6Prefix)
{
    const std::optional<IpAddress> parsed = parseAddress(address);
    if (!parsed)
        return std::string(address);
    if (parsed->v4)
        return parsed->text();
    ipv6Prefix = std::clamp(ipv6Prefix, 1, 128);
    if (ipv6Prefix == 128)
        return parsed->text();
    return AddressRange{parsed->masked(ipv6Prefix), ipv6Prefix}.text();
}

bool isLoopbackAddress(std::string_view address)
{
    const std::optional<IpAddress> parsed = parseAddress(address);
    return parsed && parsed->loopback();
}

bool looksLikeAddress(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" _");
    if (first == std::string_view::npos)
        return false;
    text = text.substr(first, text.find_last_not_of(" _") - first + 1);
    return parseAddress(text) || parseRange(text);
}

} // namespace stonecall::server
