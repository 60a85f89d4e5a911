#include "protocol/Wire.h"
#include "FakeSocket.h"
#include "protocol/Framer.h"
#include "protocol/SendCommand.h"

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

TEST(SplitFields, KeepsEmptyFieldsAndEveryByte)
{
    using V = std::vector<std::string_view>;
    EXPECT_EQ(splitFields("PING"), V{"PING"});
    EXPECT_EQ(splitFields("PING\xA4"), (V{"PING", ""}));
    EXPECT_EQ(splitFields("A\xA4\xA4"
                          "B"),
              (V{"A", "", "B"}));
    const std::string withNul("MSG\xA4x\0y", 7);
    EXPECT_EQ(splitFields(withNul)[1], std::string_view("x\0y", 3));
}

TEST(UnsendableField, RefusesSeparatorAndControlCharacters)
{
    EXPECT_FALSE(unsendableFieldReason("Old_Fox"));
    EXPECT_FALSE(
        unsendableFieldReason("J\xF6rg \x80")); // accented letters and the euro sign are fine
    EXPECT_FALSE(unsendableFieldReason(""));
    EXPECT_TRUE(unsendableFieldReason("a\xA4"
                                      "b"));
    EXPECT_TRUE(unsendableFieldReason("a\x06"));
    EXPECT_TRUE(unsendableFieldReason("a\tb"));
    EXPECT_TRUE(unsendableFieldReason("\x7F"));
    EXPECT_TRUE(unsendableFieldReason("\x9D"));
}

namespace {
std::vector<std::string> feedAll(std::string& buffer, const std::vector<std::string>& arrivals,
                                 std::size_t limit = 1 << 20, FeedResult* last = nullptr)
{
    std::vector<std::string> messages;
    for (const auto& bytes : arrivals) {
        const FeedResult result = feedMessages(
            buffer, bytes, MsgEnd, limit, [&](std::string_view m) { messages.emplace_back(m); });
        if (last)
            *last = result;
    }
    return messages;
}
} // namespace

TEST(Framer, SameMessagesWhereverTheStreamIsCut)
{
    const std::string stream = std::string("USER\xA4"
                                           "1\xA4"
                                           "Ann\xA4x\x06\x06PING\x06") +
                               "USERSTATE\xA4"
                               "1\xA4IDLE\x06";
    const std::vector<std::string> expected = {std::string("USER\xA4"
                                                           "1\xA4"
                                                           "Ann\xA4x"),
                                               "", "PING",
                                               std::string("USERSTATE\xA4"
                                                           "1\xA4IDLE")};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        for (std::size_t cut2 = cut; cut2 <= stream.size(); cut2 += 3) {
            std::string buffer;
            const auto messages =
                feedAll(buffer, {stream.substr(0, cut), stream.substr(cut, cut2 - cut),
                                 stream.substr(cut2)});
            ASSERT_EQ(messages, expected) << "cut at " << cut << " and " << cut2;
            EXPECT_TRUE(buffer.empty());
        }
    }
}

TEST(Framer, KeepsAnUnfinishedMessage)
{
    std::string buffer;
    EXPECT_TRUE(feedAll(buffer, {"PI"}).empty());
    EXPECT_EQ(buffer, "PI");
    EXPECT_EQ(feedAll(buffer, {"NG\x06"
                               "VER"}),
              std::vector<std::string>{"PING"});
    EXPECT_EQ(buffer, "VER");
}

TEST(Framer, OverflowDropsTheBuffer)
{
    std::string buffer;
    FeedResult result{};
    feedAll(buffer, {std::string(6, 'x'), std::string(4, 'x')}, 10, &result);
    EXPECT_EQ(result, FeedResult::Ok);
    feedAll(buffer, {"x"}, 10, &result);
    EXPECT_EQ(result, FeedResult::Overflow);
    EXPECT_TRUE(buffer.empty());
    // A message of exactly the limit still passes.
    const auto messages = feedAll(buffer, {std::string(10, 'y') + '\x06'}, 10, &result);
    EXPECT_EQ(result, FeedResult::Ok);
    EXPECT_EQ(messages.size(), 1u);
}
