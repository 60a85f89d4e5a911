#pragma once
// Small pure rules of the lobby server: which names and chat lines it takes, and the
// VERIFY arithmetic it shares with the client.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stonecall::server {

inline constexpr std::size_t MaxNameLength = 64;
inline constexpr std::size_t MaxPasswordLength = 64;
inline constexpr std::size_t MaxChatCharacters = 512;

// A name every client can show and tell apart from a free entry: not empty, not "NONE",
// no byte that cannot travel in a field or has no glyph, not made only of blanks, at most
// MaxNameLength bytes.
bool acceptableName(std::string_view name);

// Clients show "_" as a blank, so two names that differ only there look the same; the key
// under which a name counts as taken.
std::string nameKey(std::string_view name);

// The encoded chat text to relay for a SENDMSG field, cut to MaxChatCharacters, or nothing
// when the field is not hexadecimal pairs or the text would break a line in the chat log.
std::optional<std::string> relayableChat(std::string_view encoded);

// The constant of the VERIFY agreement with the client.
inline constexpr int VerifyConstant = 21179;
// Challenges whose response the client can compute without leaving its integer ranges.
inline constexpr int MinChallenge = -26973;
inline constexpr int MaxChallenge = 5794;

// The client's response: 2v x (2v + R), the sum formed as (v + R) + v in 16-bit signed
// arithmetic, the product in double converted to 32-bit signed; nothing when a step
// leaves its range.
std::optional<std::int32_t> verifyResponse(std::int16_t challenge);

} // namespace stonecall::server
