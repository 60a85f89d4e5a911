#pragma once
// A wire message made readable for a trace: the fields stay apart, nothing invisible slips
// through, and hut passwords never leave the program this way.

#include <cstddef>
#include <string>
#include <string_view>

namespace stonecall {

// Stands for a hidden hut password in a trace.
inline constexpr std::string_view TraceHidden = "***";
// A longer message shows this many bytes and then how many more there were.
inline constexpr std::size_t TraceMaxBytes = 2048;

// Renders one message (without MsgEnd) as bytes in the client's character set:
// - FieldSep stays "¤"; it is the only code 164 in the result, since a field cannot hold one.
// - Control codes, DEL, the codes Windows-1252 leaves undefined, the no-break space and the
//   soft hyphen become "\xNN" (upper-case hex); a backslash becomes "\\".
// - Hut passwords become TraceHidden: BEHOST from field 3 on, and USERSTATE with the state
//   "HOST" from field 5 on. Everything from the password's field onward is hidden, since a
//   password holding a separator spills into the fields after it. A lone last field "NONE"
//   (no password) is shown as it is.
std::string traceText(std::string_view message);

} // namespace stonecall
