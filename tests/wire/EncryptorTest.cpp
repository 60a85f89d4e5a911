#include "wire/Encryptor.h"

#include <gtest/gtest.h>

#include <string>

using namespace stonecall;

namespace {

std::string allCodes()
{
    std::string text;
    for (int c = 0; c <= 255; ++c)
        text.push_back(static_cast<char>(c));
    return text;
}

std::string codes(std::initializer_list<int> values)
{
    std::string text;
    for (int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

bool isUpperHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

TEST(Encryptor, HexExamples)
{
    EXPECT_EQ(HexEncode("abc"), "616263");
    EXPECT_EQ(HexDecode("616263"), "abc");
    EXPECT_EQ(HexEncode(codes({10})), "0A");
    EXPECT_EQ(HexEncode(codes({0, 164, 255})), "00A4FF");
    EXPECT_EQ(HexEncode(""), "");
    EXPECT_EQ(HexDecode(""), "");
}

TEST(Encryptor, EverySingleCodeRoundTrips)
{
    for (int c = 0; c <= 255; ++c) {
        const std::string plain = codes({c});
        const std::string scrambled = EncryptText(plain);
        ASSERT_EQ(scrambled.size(), 2u) << c;
        EXPECT_EQ(HexDecode(scrambled), codes({(c + CodecShift) % 256})) << c;
        EXPECT_EQ(DecryptText(scrambled), plain) << c;
        EXPECT_EQ(HexDecode(HexEncode(plain)), plain) << c;
    }
    const std::string all = allCodes();
    EXPECT_EQ(DecryptText(EncryptText(all)), all);
    EXPECT_EQ(EncryptText(""), "");
    EXPECT_EQ(DecryptText(""), "");
}

TEST(Encryptor, ScrambledTextHoldsOnlyUpperCaseHexDigits)
{
    const std::string scrambled = EncryptText(allCodes());
    ASSERT_EQ(scrambled.size(), 512u);
    for (char c : scrambled)
        ASSERT_TRUE(isUpperHex(c)) << static_cast<int>(static_cast<unsigned char>(c));
    EXPECT_EQ(scrambled.find('\xA4'), std::string::npos);
    EXPECT_EQ(scrambled.find('\x06'), std::string::npos);
}

TEST(Encryptor, ShiftWrapsAtBothEnds)
{
    // 255 + shift wraps past 255, and the last unshifts below 0 back to the top.
    EXPECT_EQ(EncryptText(codes({255})), HexEncode(codes({CodecShift - 1})));
    EXPECT_EQ(DecryptText(HexEncode(codes({0}))), codes({256 - CodecShift}));
    EXPECT_EQ(EncryptText("abc"),
              HexEncode(codes({97 + CodecShift, 98 + CodecShift, 99 + CodecShift})));
}

TEST(Encryptor, LowerCaseDigitsDecodeLikeUpperCase)
{
    EXPECT_EQ(HexDecode("6a6b6c"), HexDecode("6A6B6C"));
    EXPECT_EQ(HexDecode("6A6b6C"), "jkl");
    EXPECT_EQ(HexDecode("ff"), codes({255}));
    EXPECT_EQ(DecryptText("aa"), DecryptText("AA"));
}

TEST(Encryptor, OddLengthDecodesTheLastDigitAlone)
{
    EXPECT_EQ(HexDecode("616"), codes({0x61, 6}));
    EXPECT_EQ(HexDecode("f"), codes({15}));
    // The lone digit unshifts like any code and wraps below 0.
    EXPECT_EQ(DecryptText("A"), codes({10 - CodecShift + 256}));
    EXPECT_EQ(DecryptText(EncryptText("hi") + "3"), "hi" + codes({3 - CodecShift + 256}));
}

TEST(Encryptor, PairsAreReadLeniently)
{
    struct Case {
        const char* pair;
        int value;
    };
    const Case cases[] = {
        {" 5", 5}, {"5 ", 5},   {"\t7", 7}, {"\nA", 10}, {"b\n", 11}, // blanks are skipped
        {"5G", 5}, {"5-", 5},   {"5\r", 5},                           // second is no digit
        {"G5", 0}, {"-5", 0},   {"\r5", 0}, {"zz", 0},                // first is no digit
        {"  ", 0}, {"\t\n", 0},                                       // nothing at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(HexDecode(c.pair), codes({c.value})) << '"' << c.pair << '"';
    EXPECT_EQ(HexDecode(std::string("\0"
                                    "1",
                                    2)),
              codes({0}));
    EXPECT_EQ(HexDecode(std::string("\xA4"
                                    "1",
                                    2)),
              codes({0}));
    // Pairs stay aligned at odd positions whatever they hold.
    EXPECT_EQ(HexDecode("G161 6"), codes({0, 0x61, 6}));
}
