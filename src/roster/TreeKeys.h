#pragma once
// The keys of the two trees' nodes, made and read here only: a short prefix and an entry's
// index in decimal, without sign or leading zeros.
//
//   user tree: "w" and "p" (the two groups), "u" + user ("u17")
//   hut tree:  "h" + host ("h7"), "c" + member ("c12"), "empty" + host + "-" + place
//              ("empty7-2")

#include "roster/Numbered.h"

#include <cstddef>
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

// A key read as its letters, its number and what follows ("empty7-2": "empty", 7 and "-2"):
// none unless it begins with one to eight letters and then a number below `limit`, written
// without sign or leading zeros, and what follows is at most four characters, the first not a
// digit. Each key has at most one such reading, so no two keys read the same.
struct Parts {
    std::string_view letters;
    std::size_t number = 0;
    std::string_view tail;
};
inline std::optional<Parts> split(std::string_view key, std::size_t limit)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t letters = 0;
    while (letters < key.size() && letters <= 8 &&
           ((key[letters] >= 'a' && key[letters] <= 'z') ||
            (key[letters] >= 'A' && key[letters] <= 'Z')))
        ++letters;
    std::size_t end = letters;
    std::size_t number = 0;
    while (end < key.size() && isDigit(key[end]) && number < limit)
        number = number * 10 + static_cast<std::size_t>(key[end++] - '0');
    if (letters == 0 || letters > 8 || end == letters ||
        (key[letters] == '0' && end > letters + 1) || number >= limit ||
        (end < key.size() && isDigit(key[end])) || key.size() - end > 4)
        return std::nullopt;
    return Parts{key.substr(0, letters), number, key.substr(end)};
}

// The host of a hut's key "h7"; none for any other text.
inline std::optional<int> hostOf(std::string_view key)
{
    const std::optional<Parts> parts = split(key, std::size_t(1) << 31);
    if (!parts || parts->letters != "h" || !parts->tail.empty())
        return std::nullopt;
    return static_cast<int>(parts->number);
}

} // namespace stonecall::treeKeys
