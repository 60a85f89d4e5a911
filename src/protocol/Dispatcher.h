#pragma once
// Acts on each message the lobby server sends, by its keyword.

#include <span>
#include <string_view>

namespace stonecall {

class ClientActions;
struct Session;

class Dispatcher {
public:
    Dispatcher(Session& session, ClientActions& client) : session_(session), client_(client) {}

    // fields[0] is the keyword; unknown keywords and malformed messages are ignored.
    void dispatch(std::span<const std::string_view> fields);

private:
    void onVersion(std::span<const std::string_view> fields);

    Session& session_;
    ClientActions& client_;
};

} // namespace stonecall
