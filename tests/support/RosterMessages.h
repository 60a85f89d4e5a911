#pragma once
// The server's USER, USERSTATE and CREATEHOST messages, built on the wire and handed to the
// real dispatcher over a table of the caller's, for tests and benchmarks of the trees. The
// trees given last are told which entry changed, as the client tells them; the caller
// refreshes them itself, as the client does after the dispatcher's calls.

#include "protocol/ClientActions.h"
#include "protocol/Dispatcher.h"
#include "session/Session.h"
#include "wire/Wire.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace stonecall {

namespace rostermessages {

// The dispatcher reaches nothing but the table: without a local user these messages only
// write it and ask for the trees.
template <typename... Trees> class TableOnly final : public ClientActions {
public:
    explicit TableOnly(Trees&... trees) : trees(trees...) {}
    void SendCommand(std::string) override {}
    void ReturnToLogin() override {}
    void UpdateUserList() override {}
    void ConstructHuts() override {}
    void AddLog(std::string_view) override {}
    LoginWindow& loginWindow() override { throw std::logic_error("no login window here"); }
    LobbyWindow& lobbyWindow() override { throw std::logic_error("no lobby window here"); }
    void entryChanged(std::int32_t index) override
    {
        std::apply([index](auto&... tree) { (tree.entryChanged(index), ...); }, trees);
    }

private:
    std::tuple<Trees&...> trees;
};

template <typename... Trees>
void dispatch(UserTable& users, const std::string& message, Trees&... trees)
{
    // No local user, so no hut buttons and no automatic leave; its own table is never written.
    static Session session = [] {
        Session none;
        none.MyIndex = -1;
        return none;
    }();
    TableOnly<Trees...> actions(trees...);
    Dispatcher dispatcher(session, users, actions);
    std::vector<std::string_view> fields = splitFields(message);
    dispatcher.dispatch(fields);
}

} // namespace rostermessages

template <typename... Trees>
void applyUser(UserTable& users, long index, std::string_view name, std::string_view extra,
               Trees&... trees)
{
    rostermessages::dispatch(users, makeCommand("USER", {std::to_string(index), name, extra}),
                             trees...);
}

// The fourth field as a number, the fifth as text (a place number for "CLIENT", the password
// for "HOST"). "CLIENT" and "HOST" always carry a fourth field, empty when none is given.
template <typename... Trees>
void applyUserState(UserTable& users, long index, std::string_view state,
                    std::optional<std::int32_t> fourth = std::nullopt,
                    std::optional<std::string> fifth = std::nullopt, Trees&... trees)
{
    std::string message = makeCommand("USERSTATE", {std::to_string(index), state});
    if (fourth || fifth || state == "CLIENT" || state == "HOST")
        message += FieldSep + (fourth ? std::to_string(*fourth) : std::string());
    if (fifth)
        message += FieldSep + *fifth;
    rostermessages::dispatch(users, message, trees...);
}

template <typename... Trees> void applyCreateHost(UserTable& users, long index, Trees&... trees)
{
    rostermessages::dispatch(users, makeCommand("CREATEHOST", {std::to_string(index)}), trees...);
}

} // namespace stonecall
