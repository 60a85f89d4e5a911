#pragma once
// Texts made of a prefix and a decimal number: the trees' keys and the group counts.

#include <string>
#include <string_view>

namespace stonecall {

inline std::string numbered(std::string_view prefix, long number)
{
    std::string text(prefix);
    text += std::to_string(number);
    return text;
}

} // namespace stonecall
