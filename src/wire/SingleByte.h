#pragma once
// The client's single-byte character set (Windows-1252, Latin-1 where it has no character) as
// Unicode, for the places where its texts meet another encoding: the client's windows and the
// lobby server's operator tools.

#include <array>
#include <optional>

namespace stonecall {

namespace detail {
// Codes 0x80 to 0x9F; the five that Windows-1252 leaves undefined keep their Latin-1 value.
inline constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace detail

constexpr char16_t unicodeOf(unsigned char code)
{
    return code >= 0x80 && code <= 0x9F ? detail::HighControls[code - 0x80] : char16_t(code);
}

// The code of a Unicode character, or nothing when the set has none.
constexpr std::optional<unsigned char> singleByteOf(char32_t unicode)
{
    if (unicode < 0x80 || (unicode >= 0xA0 && unicode <= 0xFF))
        return static_cast<unsigned char>(unicode);
    for (std::size_t i = 0; i < detail::HighControls.size(); ++i)
        if (detail::HighControls[i] == unicode)
            return static_cast<unsigned char>(0x80 + i);
    return std::nullopt;
}

} // namespace stonecall
