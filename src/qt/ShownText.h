#pragma once
// What a tree row shows of its text. Nobody reads hundreds of thousands of characters on one
// row, yet Qt would lay them all out on every paint; a longer text is cut and ends in "…".
// The tree keeps, sorts and hands out the whole text.

#include "qt/Charset.h"

#include <QString>

#include <cstddef>
#include <string_view>

namespace stonecall {

inline constexpr std::size_t MaxShownTreeText = 256;

inline QString shownTreeText(std::string_view text)
{
    if (text.size() <= MaxShownTreeText)
        return toQString(text);
    return toQString(text.substr(0, MaxShownTreeText - 1)) + QChar(0x2026);
}

} // namespace stonecall
