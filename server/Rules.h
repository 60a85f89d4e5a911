#pragma once
// Small pure rules of the lobby server: which names, passwords and chat lines it takes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace stonecall::server {

inline constexpr std::size_t MaxNameLength = 64;
inline constexpr std::size_t MaxPasswordLength = 64;
inline constexpr std::size_t MaxChatCharacters = 512;

// A name every client can show and tell apart from a free entry and from the lobby's own
// lines: not empty, not "NONE", not starting with '*', no byte that cannot travel in a field,
// no code a reader cannot see (soft hyphen, no-break space, controls), no blank at either
// end, at most MaxNameLength bytes.
bool acceptableName(std::string_view name);

// A hut password under the same character rules as a name (it may be empty: an open hut).
bool acceptablePassword(std::string_view password);

// The key under which a name counts as taken: clients show "_" as a blank, and names that
// differ only in case or in runs of blanks look alike to a reader.
std::string nameKey(std::string_view name);

// Text from a peer (a name, most often) as a log line quotes it: cut to its first 64 bytes, so
// that a line cannot be made long; the log's writer shows codes as codes.
inline constexpr std::size_t MaxLoggedPeerText = 64;
std::string peerText(std::string_view text);

struct Chat {
    std::string encoded; // what to relay
    bool cut = false;    // the line was longer than MaxChatCharacters
};

// The encoded chat text to relay for a SENDMSG field, or nothing when the field is not
// hexadecimal pairs. Line breaks, tabs and form feeds become blanks, other invisible codes go,
// runs of blanks shrink to one (a run of blanks could wrap a line in the fixed-width log so
// its rest reads as another speaker), and the line is cut to MaxChatCharacters.
std::optional<Chat> relayableChat(std::string_view encoded);

} // namespace stonecall::server
