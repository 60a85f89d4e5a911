#pragma once
// The order of a sorted node's children, in the Qt tree and in the tests' in-memory tree
// alike: by text with letter case ignored, character by character by Unicode value; then by
// the exact text as unsigned bytes; then by the key.

#include "wire/LowerCase.h"
#include "wire/SingleByte.h"

#include <algorithm>
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
    const auto folded = [](char x, char y) {
        return Folded[static_cast<unsigned char>(x)] <=> Folded[static_cast<unsigned char>(y)];
    };
    // Equal bytes fold alike: folding starts where the texts first differ.
    const auto [a, b] = std::mismatch(aText.begin(), aText.end(), bText.begin(), bText.end());
    if (const auto order =
            std::lexicographical_compare_three_way(a, aText.end(), b, bText.end(), folded);
        order != 0)
        return order;
    // string_view compares bytes as unsigned codes.
    if (const int exact = aText.compare(bText); exact != 0)
        return exact <=> 0;
    return aKey.compare(bKey) <=> 0;
}

} // namespace stonecall::treeOrder
