#pragma once
// The keys of the two trees' nodes, made and read here only: a short prefix and an entry's
// index in decimal, without sign or leading zeros.
//
//   user tree: "w" and "p" (the two groups), "u" + user ("u17")
//   hut tree:  "h" + host ("h7"), "c" + member ("c12"), "empty" + host + "-" + place
//              ("empty7-2")

#include "roster/Numbered.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace stonecall::treeKeys {

inline constexpr std::string_view Waiting = "w";
inline constexpr std::string_view Playing = "p";

inline std::string user(long index)
{
    return numbered("u", index);
}
inline std::string hut(long host)
{
    return numbered("h", host);
}
inline std::string member(long index)
{
    return numbered("c", index);
}
inline std::string emptyPlace(long host, long place)
{
    return numbered(numbered("empty", host) + "-", place);
}

// An empty place's key: it begins with "empty".
inline bool isEmptyPlace(std::string_view key)
{
    return key.starts_with("empty");
}

// The host of a hut's key "h7"; none for any other text.
inline std::optional<int> hostOf(std::string_view key)
{
    int host = -1;
    if (key.starts_with('h'))
        std::from_chars(key.data() + 1, key.data() + key.size(), host);
    return host >= 0 && hut(host) == key ? std::optional(host) : std::nullopt;
}

} // namespace stonecall::treeKeys
