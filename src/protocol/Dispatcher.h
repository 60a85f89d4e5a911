#pragma once
// Acts on each message the lobby server sends, by its keyword. A message that an action
// cannot take (missing fields, a number that is none or does not fit, an index outside the
// table) is ignored whole: nothing is stored, sent or redrawn for it.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace stonecall {

class ClientActions;
struct Session;
class UserTable;

using Fields = std::span<const std::string_view>;

class Dispatcher {
public:
    Dispatcher(Session& session, ClientActions& client);
    // Writes `users` instead of the session's table: a view can then be driven by the real
    // messages over a table of its own.
    Dispatcher(Session& session, UserTable& users, ClientActions& client)
        : session_(session), users_(users), client_(client)
    {}

    // fields[0] is the keyword; unknown keywords are ignored.
    void dispatch(Fields fields);

private:
    void onVersion(Fields fields);
    void onLogin(Fields fields);
    void onMsg(Fields fields);
    void onUser(Fields fields);
    void onUserState(Fields fields);
    void onPubMsg(Fields fields);
    void onEndUsers();
    void onMotdLine(Fields fields);
    void onVerify(Fields fields);
    void onPing();
    void onCreateHost(Fields fields);

    Session& session_;
    UserTable& users_;
    ClientActions& client_;
};

} // namespace stonecall
