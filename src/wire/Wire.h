#pragma once
// The lobby protocol's message layout: keyword, fields each led by FieldSep, then MsgEnd.
// Texts are byte strings, one character per code 0 to 255.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall {

inline constexpr char FieldSep = '\xA4'; // code 164
inline constexpr char MsgEnd = '\x06';   // code 6

// The keyword followed by each field with FieldSep in front; without MsgEnd.
std::string makeCommand(std::string_view keyword,
                        std::initializer_list<std::string_view> fields = {});
// The same at the end of `text`, for many messages built into one string.
void appendCommand(std::string& text, std::string_view keyword,
                   std::initializer_list<std::string_view> fields = {});

// Cuts a message (without MsgEnd) at every FieldSep. Field 1, the keyword, is element 0.
std::vector<std::string_view> splitFields(std::string_view message);
// The same into a vector the caller keeps, so a burst of messages reuses one allocation.
void splitFields(std::string_view message, std::vector<std::string_view>& fields);

// Why a text typed by the user cannot travel as one field, or nothing when it can.
// FieldSep and MsgEnd would break the message layout; control characters have no
// business in names and passwords.
std::optional<std::string> unsendableFieldReason(std::string_view text);

} // namespace stonecall
