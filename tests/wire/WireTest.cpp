#include "wire/Wire.h"
#include "wire/Framer.h"

#include <gtest/gtest.h>

using namespace stonecall;

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
