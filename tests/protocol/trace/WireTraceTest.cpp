// The trace rendering of wire messages: readable, unambiguous, bounded, and without passwords.

#include "protocol/WireTrace.h"
#include "WireMessages.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

using namespace stonecall;

namespace {

using test::S;

// Reads a trace back into the message bytes; nothing when the trace is not well formed.
std::optional<std::string> unescape(const std::string& trace)
{
    std::string out;
    for (std::size_t i = 0; i < trace.size(); ++i) {
        if (trace[i] != '\\') {
            out += trace[i];
            continue;
        }
        if (i + 1 < trace.size() && trace[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < trace.size() && trace[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(trace.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool hasInvisibleByte(const std::string& text)
{
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 ||
            c == 0x9D || c == 0xA0 || c == 0xAD)
            return true;
    }
    return false;
}

} // namespace

TEST(WireTrace, KeepsFieldsApartWithTheVisibleSeparator)
{
    EXPECT_EQ(traceText("PINGREPLY"), "PINGREPLY");
    EXPECT_EQ(traceText("USER" + S + "3" + S + "Ann" + S + "x"),
              "USER" + S + "3" + S + "Ann" + S + "x");
    // Empty fields stay countable.
    EXPECT_EQ(traceText("LOGIN" + S + S + "10.0.0.2"), "LOGIN" + S + S + "10.0.0.2");
    EXPECT_EQ(traceText("USER" + S + "0" + S + "NONE" + S), "USER" + S + "0" + S + "NONE" + S);
    EXPECT_EQ(traceText(""), "");
}

TEST(WireTrace, EscapesWhatCannotBeSeen)
{
    EXPECT_EQ(traceText(std::string("A\x00"
                                    "B\x06\x1F\x7F",
                                    6)),
              "A\\x00B\\x06\\x1F\\x7F");
    EXPECT_EQ(traceText("MSG" + S + "a\r\nb\tc"), "MSG" + S + "a\\x0D\\x0Ab\\x09c");
    // Undefined codes of Windows-1252, the no-break space and the soft hyphen look like nothing.
    EXPECT_EQ(traceText("\x81\x8D\x8F\x90\x9D\xA0\xAD"), "\\x81\\x8D\\x8F\\x90\\x9D\\xA0\\xAD");
    // Printable characters of the set stay as they are; a backslash cannot pass for an escape.
    EXPECT_EQ(traceText("Jos\xE9 \x80 ~"), "Jos\xE9 \x80 ~");
    EXPECT_EQ(traceText("a\\x41"), "a\\\\x41");
}

TEST(WireTrace, EveryByteReadsBackExactly)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        if (c != 0xA4)
            all += static_cast<char>(c);
    EXPECT_EQ(unescape(traceText(all)), all);
    EXPECT_FALSE(hasInvisibleByte(traceText(all)));

    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 60);
    for (int round = 0; round < 2000; ++round) {
        std::string message = "USER"; // no password can be hidden in it
        for (int n = length(random); n > 0; --n)
            message += static_cast<char>(byte(random));
        const std::string trace = traceText(message);
        ASSERT_EQ(unescape(trace), message) << round;
        ASSERT_FALSE(hasInvisibleByte(trace)) << round;
    }
}

TEST(WireTrace, HidesHutPasswords)
{
    // What the client sends to host a hut.
    EXPECT_EQ(traceText("BEHOST" + S + "3" + S + "tusk"), "BEHOST" + S + "3" + S + "***");
    EXPECT_EQ(traceText("BEHOST" + S + "3" + S + "NONE"), "BEHOST" + S + "3" + S + "NONE");
    EXPECT_EQ(traceText("BEHOST" + S + "3" + S), "BEHOST" + S + "3" + S + "***");
    EXPECT_EQ(traceText("BEHOST" + S + "4" + S + "tu" + S + "sk"), "BEHOST" + S + "4" + S + "***");
    EXPECT_EQ(traceText("BEHOST" + S + "4" + S + "NONE" + S + "tusk"),
              "BEHOST" + S + "4" + S + "***");
    EXPECT_EQ(traceText("BEHOST" + S + "2"), "BEHOST" + S + "2");

    // What the server reports of every hut.
    EXPECT_EQ(traceText("USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "tusk"),
              "USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "***");
    EXPECT_EQ(traceText("USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "NONE"),
              "USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "NONE");
    EXPECT_EQ(traceText("USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "tu" + S + "sk"),
              "USERSTATE" + S + "5" + S + "HOST" + S + "2" + S + "***");
    EXPECT_EQ(traceText("USERSTATE" + S + "5" + S + "HOST" + S + "2"),
              "USERSTATE" + S + "5" + S + "HOST" + S + "2");
    // Other states carry no password; only the exact word "HOST" makes a hut.
    EXPECT_EQ(traceText("USERSTATE" + S + "6" + S + "CLIENT" + S + "5" + S + "2"),
              "USERSTATE" + S + "6" + S + "CLIENT" + S + "5" + S + "2");
    EXPECT_EQ(traceText("USERSTATE" + S + "6" + S + "host" + S + "2" + S + "x"),
              "USERSTATE" + S + "6" + S + "host" + S + "2" + S + "x");
}

TEST(WireTrace, LongMessagesAreCutWithoutRevealingAPassword)
{
    const std::string big(5000, 'a');
    std::string trace = traceText("PUBMSG" + S + big);
    EXPECT_EQ(trace.substr(0, 7), "PUBMSG" + S);
    EXPECT_EQ(trace.substr(trace.size() - 23), "a ... (2959 more bytes)");
    EXPECT_EQ(trace.size(), TraceMaxBytes + 22);

    // Escapes grow the text at most fourfold; the cut counts message bytes.
    trace = traceText(std::string(100000, '\x01'));
    EXPECT_EQ(trace.size(), 4 * TraceMaxBytes + std::string(" ... (97952 more bytes)").size());

    // A flood of separators is bounded too.
    trace = traceText("USER" + std::string(100000, '\xA4'));
    EXPECT_LT(trace.size(), TraceMaxBytes + 40);

    // A huge hut password is hidden whole, and a cut before it does not tell its length.
    EXPECT_EQ(traceText("BEHOST" + S + "3" + S + std::string(9000, 'p')),
              "BEHOST" + S + "3" + S + "***");
    trace = traceText("USERSTATE" + S + "1" + S + "HOST" + S + big + S + "tusk");
    EXPECT_EQ(trace.find("tusk"), std::string::npos);
    EXPECT_EQ(trace.find("more bytes"), std::string::npos);
    EXPECT_EQ(trace.substr(trace.size() - 4), " ...");
}
