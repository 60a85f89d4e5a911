#pragma once
// Reading numbers out of received fields.
//
// Lenient: blanks, tabs and line feeds anywhere are ignored; the longest leading decimal
// number (sign, digits, fraction, exponent) is taken, 0 when there is none.
// Strict: the whole field must be such a number; a blank anywhere makes it none.
// Both round halves to even; a value that does not fit the wanted width is no number.

#include <cstdint>
#include <optional>
#include <string_view>

namespace stonecall {

std::optional<double> lenientValue(std::string_view field);
std::optional<double> strictValue(std::string_view field);

// The value rounded half to even, when it fits Int.
template <class Int> std::optional<Int> roundToWidth(std::optional<double> value);

template <class Int> std::optional<Int> lenientNumber(std::string_view field)
{
    return roundToWidth<Int>(lenientValue(field));
}

template <class Int> std::optional<Int> strictNumber(std::string_view field)
{
    return roundToWidth<Int>(strictValue(field));
}

extern template std::optional<std::int16_t> roundToWidth<std::int16_t>(std::optional<double>);
extern template std::optional<std::int32_t> roundToWidth<std::int32_t>(std::optional<double>);

} // namespace stonecall
