#pragma once
// The VERIFY agreement between the lobby server and the client.

#include <cstdint>
#include <optional>

namespace stonecall {

// R of the exchange.
inline constexpr std::int16_t VerifyConstant = 21179;

// Challenges whose answer the client can compute without leaving its integer ranges.
inline constexpr int MinChallenge = -26973;
inline constexpr int MaxChallenge = 5794;

// The answer 2v x (2v + R): the sum formed as (v + R) + v in 16-bit signed arithmetic, the
// product in double converted to 32-bit signed; nothing when a step leaves its range.
std::optional<std::int32_t> verifyResponse(std::int16_t challenge);

} // namespace stonecall
