// Address text, ranges and the key an address counts under.

#include "Address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace stonecall::server;

namespace {

std::string shown(std::string_view text)
{
    const auto address = parseAddress(text);
    return address ? address->text() : "-";
}

std::string range(std::string_view text)
{
    const auto parsed = parseRange(text);
    return parsed ? parsed->text() : "-";
}

TEST(AddressTest, AddressesAndRangesParseToOneFormAndJunkIsRefused)
{
    EXPECT_EQ(shown("203.0.113.5"), "203.0.113.5");
    EXPECT_EQ(shown("2001:DB8:0:0::1"), "2001:db8::1");
    EXPECT_EQ(shown("::ffff:203.0.113.5"), "203.0.113.5"); // the IPv4 peer it carries
    EXPECT_TRUE(parseAddress("::ffff:203.0.113.5")->v4);
    EXPECT_EQ(shown("fe80::1%eth0"), "fe80::1");
    for (const char* junk :
         {"", "1.2.3", "1.2.3.4.5", "01.2.3.4", "1.2.3.256", "0x7f.0.0.1", " 1.2.3.4",
          "1.2.3.4%eth0", "fe80::1%", "::1::2", "::g", "[::1]", "1.2.3.4/24", "127.1"}) {
        SCOPED_TRACE(junk);
        EXPECT_FALSE(parseAddress(junk));
    }

    EXPECT_EQ(range("203.0.113.77/24"), "203.0.113.0/24"); // host bits cleared
    EXPECT_EQ(range("2001:db8:ffff::1/32"), "2001:db8::/32");
    EXPECT_EQ(range("10.1.2.3/0"), "0.0.0.0/0");
    EXPECT_EQ(range("::ffff:10.1.2.3/104"), "10.0.0.0/8");
    EXPECT_EQ(range("::ffff:10.1.2.3/64"), "::/64");
    EXPECT_EQ(range("::1/128"), "::1/128");
    for (const char* junk :
         {"1.2.3.4", "1.2.3.4/", "/24", "1.2.3.4/33", "::/129", "1.2.3.4/-1", "1.2.3.4/+8",
          "1.2.3.4/8x", "1.2.3.4/0008", "1.2.3/8", "1.2.3.4/8/8"}) {
        SCOPED_TRACE(junk);
        EXPECT_FALSE(parseRange(junk));
    }
}

TEST(AddressTest, RangesHoldTheirOwnFamilyOnly)
{
    const AddressRange v4 = *parseRange("203.0.113.0/24");
    EXPECT_TRUE(v4.contains(*parseAddress("203.0.113.255")));
    EXPECT_TRUE(v4.contains(*parseAddress("::ffff:203.0.113.9")));
    EXPECT_FALSE(v4.contains(*parseAddress("203.0.114.0")));
    EXPECT_FALSE(v4.contains(*parseAddress("::cb00:7109"))); // the same bytes, as IPv6

    const AddressRange v6 = *parseRange("2001:db8::/33");
    EXPECT_TRUE(v6.contains(*parseAddress("2001:db8:7fff:ffff::1")));
    EXPECT_FALSE(v6.contains(*parseAddress("2001:db8:8000::")));
    EXPECT_FALSE(v6.contains(*parseAddress("32.1.13.184")));

    const AddressRange all = *parseRange("::/0");
    EXPECT_TRUE(all.contains(*parseAddress("ffff::1")));
    EXPECT_FALSE(all.contains(*parseAddress("1.2.3.4")));
}

TEST(AddressTest, IPv6CountsByItsNetworkAndIPv4Whole)
{
    EXPECT_EQ(addressKey("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
    EXPECT_EQ(addressKey("2001:db8:1:2:ffff:ffff:ffff:ffff"), "2001:db8:1:2::/64");
    EXPECT_NE(addressKey("2001:db8:1:3::1"), addressKey("2001:db8:1:2::1"));
    EXPECT_EQ(addressKey("2001:db8:1:2:aaaa::1%eth0", 48), "2001:db8:1::/48");
    EXPECT_EQ(addressKey("2001:db8:1:2:aaaa::1", 128), "2001:db8:1:2:aaaa::1");
    EXPECT_EQ(addressKey("203.0.113.5"), "203.0.113.5");
    EXPECT_NE(addressKey("203.0.113.5"), addressKey("203.0.113.6"));
    EXPECT_EQ(addressKey("::ffff:203.0.113.5"), "203.0.113.5");
    EXPECT_EQ(addressKey("not an address"), "not an address");
    EXPECT_EQ(addressKey(""), "");

    EXPECT_TRUE(isLoopbackAddress("127.9.8.7"));
    EXPECT_TRUE(isLoopbackAddress("::ffff:127.0.0.2"));
    EXPECT_TRUE(isLoopbackAddress("::1"));
    EXPECT_FALSE(isLoopbackAddress("::2"));
    EXPECT_FALSE(isLoopbackAddress("128.0.0.1"));
    EXPECT_FALSE(isLoopbackAddress("127.example"));
}

TEST(AddressTest, NamesThatReadAsAddressesOrRangesAreTold)
{
    for (const char* name : {"127.77.0.5", "::1", "::ffff:1.2.3.4", "2001:db8::/32",
                             "203.0.113.0/24", "_10.0.0.1_", " ::1", "::", "fe80::1%lo"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(looksLikeAddress(name));
    }
    for (const char* name : {"Old_Fox", "1.2.3", "127.77.0.5.", "g::1", "Fox:1", "1.2.3.4/x",
                             "10.0.0.1 a", "", "__"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(looksLikeAddress(name));
    }
}

} // namespace
