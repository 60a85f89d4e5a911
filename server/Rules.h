#pragma once
// Small pure rules of the lobby server: which names and chat lines it takes.

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

} // namespace stonecall::server
