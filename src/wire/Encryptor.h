#pragma once
// The chat text codec: every code is shifted by CodecShift (wrapping within 0 to 255) and
// written as two upper-case hexadecimal digits, so scrambled text never holds FieldSep or
// MsgEnd. The lobby server uses the same shift.

#include <string>
#include <string_view>

namespace stonecall {

inline constexpr int CodecShift = 73;

std::string EncryptText(std::string_view plain);
std::string DecryptText(std::string_view scrambled);
std::string HexEncode(std::string_view text);
std::string HexDecode(std::string_view digits);

} // namespace stonecall
