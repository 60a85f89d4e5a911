#pragma once
// The server's USER, USERSTATE and CREATEHOST messages, built on the wire and handed to the
// real dispatcher over a table of the caller's, for tests and benchmarks of the trees. The
// caller refreshes its trees itself, as the client does after the dispatcher's calls.

#include "protocol/ClientActions.h"
#include "protocol/Dispatcher.h"
#include "session/Session.h"
#include "wire/Wire.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall {

namespace rostermessages {

// The dispatcher reaches nothing but the table: without a local user these messages only
// write it and ask for the trees.
class TableOnly final : public ClientActions {
public:
    void SendCommand(std::string) override {}
    void ReturnToLogin() override {}
    void UpdateUserList() override {}
    void ConstructHuts() override {}
    void AddLog(std::string_view) override {}
    LoginWindow& loginWindow() override { throw std::logic_error("no login window here"); }
    LobbyWindow& lobbyWindow() override { throw std::logic_error("no lobby window here"); }
};

inline void dispatch(UserTable& users, const std::string& message)
{
    // No local user, so no hut buttons and no automatic leave; its own table is never written.
    static Session session = [] {
        Session none;
        none.MyIndex = -1;
        return none;
    }();
    TableOnly actions;
    Dispatcher dispatcher(session, users, actions);
    std::vector<std::string_view> fields = splitFields(message);
    dispatcher.dispatch(fields);
}

} // namespace rostermessages

inline void applyUser(UserTable& users, long index, std::string_view name, std::string_view extra)
{
    rostermessages::dispatch(users, makeCommand("USER", {std::to_string(index), name, extra}));
}

// The fourth field as a number, the fifth as text (a place number for "CLIENT", the password
// for "HOST"). "CLIENT" and "HOST" always carry a fourth field, empty when none is given.
inline void applyUserState(UserTable& users, long index, std::string_view state,
                           std::optional<std::int32_t> fourth = std::nullopt,
                           std::optional<std::string> fifth = std::nullopt)
{
    std::string message = makeCommand("USERSTATE", {std::to_string(index), state});
    if (fourth || fifth || state == "CLIENT" || state == "HOST")
        message += FieldSep + (fourth ? std::to_string(*fourth) : std::string());
    if (fifth)
        message += FieldSep + *fifth;
    rostermessages::dispatch(users, message);
}

inline void applyCreateHost(UserTable& users, long index)
{
    rostermessages::dispatch(users, makeCommand("CREATEHOST", {std::to_string(index)}));
}

} // namespace stonecall
