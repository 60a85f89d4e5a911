#pragma once
// Character classes of the client's single-byte character set (Windows-1252), shared by the
// client and the lobby server so both draw the same lines.

namespace stonecall {

// Control characters: C0, DEL, and the C1 codes that Windows-1252 leaves undefined (they
// fall back to Latin-1 controls).
constexpr bool isControlCode(unsigned char c)
{
    return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

// Codes a reader cannot see: the control characters, the no-break space and the soft hyphen.
constexpr bool isInvisibleCode(unsigned char c)
{
    return isControlCode(c) || c == 0xA0 || c == 0xAD;
}

// The blanks that numbers and hexadecimal pairs on the wire may carry anywhere.
constexpr bool isWireBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

constexpr bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The value of one hexadecimal digit (either case), or -1.
constexpr int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

inline constexpr char UpperHexDigits[] = "0123456789ABCDEF";

} // namespace stonecall
