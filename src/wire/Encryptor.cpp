#include "wire/Encryptor.h"

#include "wire/CharClass.h"

namespace stonecall {

namespace {

// One pair read leniently: blanks are skipped, then the hexadecimal digits at the start of
// what remains make the value; no leading digit gives 0.
unsigned char pairValue(std::string_view pair)
{
    int value = 0;
    bool digitsEnded = false;
    for (char c : pair) {
        if (isWireBlank(c))
            continue;
        const int digit = hexValue(c);
        if (digit < 0 || digitsEnded) {
            digitsEnded = true;
            continue;
        }
        value = value * 16 + digit;
    }
    return static_cast<unsigned char>(value);
}

char shifted(char c, int by)
{
    return static_cast<char>((static_cast<unsigned char>(c) + by + 256) % 256);
}

} // namespace

std::string HexEncode(std::string_view text)
{
    std::string digits;
    digits.reserve(text.size() * 2);
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        digits.push_back(UpperHexDigits[c >> 4]);
        digits.push_back(UpperHexDigits[c & 0x0F]);
    }
    return digits;
}

std::string HexDecode(std::string_view digits)
{
    std::string text;
    text.reserve((digits.size() + 1) / 2);
    for (std::size_t start = 0; start < digits.size(); start += 2)
        text.push_back(static_cast<char>(pairValue(digits.substr(start, 2))));
    return text;
}

std::string EncryptText(std::string_view plain)
{
    std::string shiftedText(plain);
    for (char& c : shiftedText)
        c = shifted(c, CodecShift);
    return HexEncode(shiftedText);
}

std::string DecryptText(std::string_view scrambled)
{
    std::string text = HexDecode(scrambled);
    for (char& c : text)
        c = shifted(c, -CodecShift);
    return text;
}

} // namespace stonecall
