#pragma once
// The order of a sorted node's children, in the Qt tree and in the tests' in-memory tree
// alike: by text with letter case ignored, character by character by Unicode value; then by
// the exact text as unsigned bytes; then by the key.

#include "wire/LowerCase.h"
#include "wire/SingleByte.h"

#include <array>
#include <compare>
#include <string_view>

namespace stonecall::treeOrder {

// Each code's character with capitals taken to their small letters, as a Unicode value. The
// micro sign sorts as the Greek small mu, its case-folded form.
inline const std::array<char16_t, 256> Folded = [] {
    std::array<char16_t, 256> table{};
    for (int code = 0; code < 256; ++code)
        table[std::size_t(code)] = unicodeOf(lowerCase(static_cast<unsigned char>(code)));
    table[0xB5] = 0x3BC;
    return table;
}();

inline std::strong_ordering compare(std::string_view aText, std::string_view aKey,
                                    std::string_view bText, std::string_view bKey)
{
    const std::size_t n = std::min(aText.size(), bText.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = Folded[static_cast<unsigned char>(aText[i])];
        const char16_t y = Folded[static_cast<unsigned char>(bText[i])];
        if (x != y)
            return x <=> y;
    }
    if (aText.size() != bText.size())
        return aText.size() <=> bText.size();
    // string_view compares bytes as unsigned codes.
    if (const int exact = aText.compare(bText); exact != 0)
        return exact <=> 0;
    return aKey.compare(bKey) <=> 0;
}

} // namespace stonecall::treeOrder
