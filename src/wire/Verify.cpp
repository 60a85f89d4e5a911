#include "wire/Verify.h"

#include <limits>

namespace stonecall {

namespace {

// 16-bit signed addition that reports leaving the range instead of wrapping.
std::optional<std::int16_t> add16(std::int32_t a, std::int32_t b)
{
    const std::int32_t sum = a + b;
    if (sum < std::numeric_limits<std::int16_t>::min() ||
        sum > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(sum);
}

} // namespace

std::optional<std::int32_t> verifyResponse(std::int16_t challenge)
{
    const auto partial = add16(challenge, VerifyConstant);
    if (!partial)
        return std::nullopt;
    const auto sum = add16(*partial, challenge);
    if (!sum)
        return std::nullopt;
    const double product = 2.0 * challenge * static_cast<double>(*sum);
    if (!(product >= std::numeric_limits<std::int32_t>::min() &&
          product <= std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<std::int32_t>(product);
}

} // namespace stonecall
