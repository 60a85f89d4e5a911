#pragma once
// The order of a sorted node's children, in the Qt tree and in the tests' in-memory tree
// alike: by text with letter case ignored, character by character by Unicode value; then by
// the exact text as unsigned bytes; then by the key.

#include "wire/LowerCase.h"
#include "wire/SingleByte.h"

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
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
    if (const auto order = std::lexicographical_compare_three_way(
            aText.begin(), aText.end(), bText.begin(), bText.end(), folded);
        order != 0)
        return order;
    // string_view compares bytes as unsigned codes.
    if (const int exact = aText.compare(bText); exact != 0)
        return exact <=> 0;
    return aKey.compare(bKey) <=> 0;
}

// The first folded characters of a text, four to a number: where two heads differ they are
// in the order of their texts, so a sort compares them before reading the texts.
using Head = std::array<std::uint64_t, 3>;
inline Head head(std::string_view text)
{
    Head head{0, 0, 0};
    const std::size_t n = std::min<std::size_t>(text.size(), 12);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t unit = Folded[static_cast<unsigned char>(text[i])];
        head[i / 4] |= unit << (48 - 16 * (i % 4));
    }
    return head;
}

} // namespace stonecall::treeOrder
