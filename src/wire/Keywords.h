#pragma once
// The protocol's words, written once for the client and the server: message keywords, the
// state words of USERSTATE, and the field values with a meaning of their own. All are
// compared exactly.

namespace stonecall {

namespace keyword {
// Both ways.
inline constexpr char Version[] = "VERSION";
inline constexpr char Login[] = "LOGIN";
inline constexpr char Verify[] = "VERIFY";
// Client to server.
inline constexpr char GetUserList[] = "GETUSERLIST";
inline constexpr char Motd[] = "MOTD";
inline constexpr char PingReply[] = "PINGREPLY";
inline constexpr char SendMsg[] = "SENDMSG";
inline constexpr char BeHost[] = "BEHOST";
inline constexpr char BeClient[] = "BECLIENT";
inline constexpr char BeIdle[] = "BEIDLE";
inline constexpr char Logout[] = "LOGOUT";
// Server to client.
inline constexpr char User[] = "USER";
inline constexpr char EndUsers[] = "ENDUSERS";
inline constexpr char UserState[] = "USERSTATE";
inline constexpr char MotdLine[] = "MOTDLINE";
inline constexpr char Msg[] = "MSG";
inline constexpr char PubMsg[] = "PUBMSG";
inline constexpr char Ping[] = "PING";
inline constexpr char CreateHost[] = "CREATEHOST";
} // namespace keyword

namespace stateword {
inline constexpr char Host[] = "HOST";
inline constexpr char Client[] = "CLIENT";
inline constexpr char Gaming[] = "GAMING";
inline constexpr char Idle[] = "IDLE";
} // namespace stateword

// A free user entry, and a hut without a password.
inline constexpr char NoneValue[] = "NONE";
// The server's answer to a version it takes.
inline constexpr char VersionGood[] = "GOOD";

} // namespace stonecall
