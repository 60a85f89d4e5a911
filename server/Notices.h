#pragma once
// The lobby's own lines to players. They travel as PUBMSG, which clients show as they stand;
// the sender starts with '*', which no user name may, so nobody can pose as the lobby.

#include "Rules.h"
#include "wire/CharClass.h"
#include "wire/Keywords.h"
#include "wire/Wire.h"

#include <string>
#include <string_view>

namespace stonecall::server {

inline constexpr std::string_view NoticeSender = "*lobby*: ";

// One of the lobby's lines as the message that carries it.
inline std::string noticeMessage(std::string_view text)
{
    return makeCommand(keyword::PubMsg, {NoticeSender, text});
}

// The operator's words as a line that can travel and be seen: at most a chat line's
// characters, codes that cannot be sent or shown made blanks.
inline std::string plainNotice(std::string_view text)
{
    std::string clean;
    for (const char c : text.substr(0, MaxChatCharacters)) {
        const bool unfit = isInvisibleCode(static_cast<unsigned char>(c)) || c == FieldSep;
        clean += unfit ? ' ' : c;
    }
    return clean;
}

namespace notice {
inline constexpr std::string_view PasswordTooLong =
    "Hut not opened: the password is longer than 64 characters.";
inline constexpr std::string_view PasswordUnusable =
    "Hut not opened: the password holds blanks at its ends or characters that cannot be sent.";
inline constexpr std::string_view HutFull = "Hut not joined: it is full.";
inline constexpr std::string_view HutGone = "Hut not joined: it is no longer open.";
inline constexpr std::string_view ChatCut = "Your line was too long: only its first 512 "
                                            "characters were sent.";
inline constexpr std::string_view ChatFlood =
    "You are sending too fast: your lines are not being relayed. Slow down or be disconnected.";
inline constexpr std::string_view FloodDisconnect = "Disconnected for flooding the chat.";
// The operator's actions; the length of a ban or a mute, where it has one, is added.
inline constexpr std::string_view Kicked = "You were disconnected by the operator.";
inline constexpr std::string_view Banned = "You are banned from this lobby";
inline constexpr std::string_view Muted = "You are muted by the operator";
inline constexpr std::string_view MutedWhy = ": your chat lines are not relayed.";
inline constexpr std::string_view Unmuted = "You may chat again: the operator lifted your mute.";
} // namespace notice

} // namespace stonecall::server
