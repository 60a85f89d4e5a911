#pragma once
// Wire messages as tests expect and record them: typed, so that a failing comparison prints
// "¤" for the field separator and "<end>" for a message end instead of raw bytes, and built by
// the same few helpers in every test.

#include "wire/Encryptor.h"
#include "wire/Wire.h"

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::test {

// The field separator, for messages written out in a test.
inline const std::string S(1, FieldSep);

// One message without its MsgEnd (or, where a test keeps a stream, several with theirs).
struct Message {
    std::string bytes;

    Message() = default;
    Message(std::string_view text) : bytes(text) {}
    Message(const char* text) : bytes(text) {}
    Message(std::string text) : bytes(std::move(text)) {}
    friend bool operator==(const Message&, const Message&) = default;

    bool startsWith(std::string_view prefix) const { return bytes.starts_with(prefix); }
};

using Messages = std::vector<Message>;

// The bytes as a reader wants them: "¤" and "<end>", other codes below 32 and 127 to 159
// as \xNN, the rest as Windows-1252 bytes.
inline std::string shown(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == FieldSep) {
            text += "\xC2\xA4";
        } else if (c == MsgEnd) {
            text += "<end>";
        } else if (u < 32 || (u >= 127 && u < 160)) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", u);
            text += code;
        } else if (u >= 160) {
            text += static_cast<char>(0xC0 | (u >> 6)); // Latin-1 as UTF-8
            text += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            text += c;
        }
    }
    return text;
}

inline void PrintTo(const Message& message, std::ostream* os)
{
    *os << '"' << shown(message.bytes) << '"';
}

inline std::ostream& operator<<(std::ostream& os, const Message& message)
{
    return os << shown(message.bytes);
}

inline Message msg(std::string_view keyword, std::initializer_list<std::string_view> fields = {})
{
    return makeCommand(keyword, fields);
}
// The message as it goes on the wire, its MsgEnd added; strung together they make a stream.
inline std::string framed(const Message& message)
{
    return message.bytes + MsgEnd;
}

inline Message user(int index, std::string_view name)
{
    return msg("USER", {std::to_string(index), name, ""});
}
inline Message state(int index, std::string_view word)
{
    return msg("USERSTATE", {std::to_string(index), word});
}
inline Message host(int index, int size, std::string_view password = "NONE")
{
    return msg("USERSTATE", {std::to_string(index), "HOST", std::to_string(size), password});
}
inline Message member(int index, int hostIndex, int place)
{
    return msg("USERSTATE",
               {std::to_string(index), "CLIENT", std::to_string(hostIndex), std::to_string(place)});
}
// A line of the lobby's own, as PUBMSG.
inline Message notice(std::string_view text)
{
    return msg("PUBMSG", {"*lobby*: ", text});
}
// A chat line as a user sends it.
inline Message say(std::string_view text)
{
    return msg("SENDMSG", {EncryptText(text)});
}
// A relayed chat line as every reader gets it.
inline Message chat(std::string_view name, std::string_view text)
{
    return msg("MSG", {std::string(name) + ": ", EncryptText(text)});
}

} // namespace stonecall::test
