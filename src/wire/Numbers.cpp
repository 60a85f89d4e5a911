#include "wire/Numbers.h"

#include "wire/CharClass.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace stonecall {

namespace {

// Length of the longest prefix of `s` that is a decimal number: optional sign, digits with
// an optional fraction (at least one digit in all), then an optional complete exponent.
std::size_t numberPrefix(std::string_view s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        std::size_t j = i + 1;
        std::size_t fraction = 0;
        while (j < s.size() && isDigit(s[j]))
            ++j, ++fraction;
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        std::size_t expDigits = 0;
        while (j < s.size() && isDigit(s[j]))
            ++j, ++expDigits;
        if (expDigits > 0)
            i = j;
    }
    return i;
}

std::optional<double> parseNumber(std::string_view number)
{
    if (!number.empty() && number.front() == '+')
        number.remove_prefix(1); // from_chars takes no '+'
    double value = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

std::optional<double> lenientValue(std::string_view field)
{
    std::string compact;
    compact.reserve(field.size());
    for (char c : field)
        if (!isWireBlank(c))
            compact.push_back(c);
    const std::size_t length = numberPrefix(compact);
    if (length == 0)
        return 0.0;
    return parseNumber(std::string_view(compact).substr(0, length));
}

std::optional<double> strictValue(std::string_view field)
{
    // Blanks count like any other character that is not part of a number.
    if (field.empty() || numberPrefix(field) != field.size())
        return std::nullopt;
    return parseNumber(field);
}

template <class Int> std::optional<Int> roundToWidth(std::optional<double> value)
{
    if (!value)
        return std::nullopt;
    // nearbyint rounds halves to even in the default rounding mode.
    const double rounded = std::nearbyint(*value);
    if (!(rounded >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          rounded <= static_cast<double>(std::numeric_limits<Int>::max())))
        return std::nullopt;
    return static_cast<Int>(rounded);
}

template std::optional<std::int16_t> roundToWidth<std::int16_t>(std::optional<double>);
template std::optional<std::int32_t> roundToWidth<std::int32_t>(std::optional<double>);

} // namespace stonecall
