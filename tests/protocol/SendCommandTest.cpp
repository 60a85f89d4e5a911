#include "protocol/SendCommand.h"
#include "FakeSocket.h"
#include "wire/Wire.h"

#include <gtest/gtest.h>

using namespace stonecall;
using stonecall::testing::FakeSocket;

namespace {
std::string hexOf(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : bytes) {
        if (!hex.empty())
            hex += ' ';
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}
} // namespace

TEST(SendCommand, FramesExactBytes)
{
    FakeSocket socket;
    socket.connected = true;
    SendCommand(socket, makeCommand("VERSION", {"1"}));
    EXPECT_EQ(hexOf(socket.sent), "56 45 52 53 49 4F 4E A4 31 06");

    socket.sent.clear();
    SendCommand(socket, makeCommand("PINGREPLY"));
    EXPECT_EQ(socket.sent.size(), 10u);
    EXPECT_EQ(socket.sent, std::string("PINGREPLY\x06"));

    socket.sent.clear();
    SendCommand(socket, makeCommand("LOGIN", {"", "10.0.0.2"}));
    EXPECT_EQ(socket.sent, std::string("LOGIN\xA4\xA4"
                                       "10.0.0.2\x06"));
}

TEST(SendCommand, SendsNothingWhenNotConnected)
{
    FakeSocket socket;
    SendCommand(socket, "LOGOUT");
    EXPECT_TRUE(socket.sent.empty());
}
