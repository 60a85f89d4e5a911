#include "wire/ServerAddress.h"

#include <gtest/gtest.h>

using namespace stonecall;

TEST(ServerAddress, TakesHostsWithAndWithoutPort)
{
    EXPECT_EQ(parseServerAddress("lobby.example.org", 13511),
              (ServerAddress{"lobby.example.org", 13511}));
    EXPECT_EQ(parseServerAddress("192.0.2.7:4000", 13511), (ServerAddress{"192.0.2.7", 4000}));
    EXPECT_EQ(parseServerAddress("my_box:65535", 13511), (ServerAddress{"my_box", 65535}));
    EXPECT_EQ(parseServerAddress("[::1]", 13511), (ServerAddress{"::1", 13511}));
    EXPECT_EQ(parseServerAddress("[2001:db8::7]:1", 13511), (ServerAddress{"2001:db8::7", 1}));
    EXPECT_EQ(parseServerAddress("[::ffff:192.0.2.7]:80", 13511),
              (ServerAddress{"::ffff:192.0.2.7", 80}));
    EXPECT_EQ(parseServerAddress("[fe80::1%eth0]:2", 13511), (ServerAddress{"fe80::1%eth0", 2}));
}

TEST(ServerAddress, RefusesWhatIsNoAddress)
{
    for (const char* text : {"",
                             ":13511",
                             "host:",
                             "host:0",
                             "host:65536",
                             "host:123456",
                             "host:+80",
                             "host:-1",
                             "host: 80",
                             "host:80x",
                             "host:80:81",
                             "::1",
                             "2001:db8::7:80",
                             "[::1",
                             "[]:80",
                             "[::1]80",
                             "[::1]:",
                             "[host]:80",
                             "[::1%]:80",
                             "[:::g]",
                             "ho st",
                             "host/x",
                             "héte",
                             "host\n"})
        EXPECT_EQ(parseServerAddress(text, 13511), std::nullopt) << '"' << text << '"';
}
