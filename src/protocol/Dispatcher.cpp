#include "protocol/Dispatcher.h"

#include "platform/LobbyWindow.h"
#include "platform/LoginWindow.h"
#include "protocol/ClientActions.h"
#include "session/Session.h"
#include "wire/Encryptor.h"
#include "wire/Keywords.h"
#include "wire/Numbers.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <string>

namespace stonecall {

Dispatcher::Dispatcher(Session& session, ClientActions& client)
    : Dispatcher(session, session.Users, client)
{}

void Dispatcher::dispatch(Fields fields)
{
    const std::string_view keyword = fields[0];
    if (keyword == keyword::Version)
        onVersion(fields);
    else if (keyword == keyword::Login)
        onLogin(fields);
    else if (keyword == keyword::Msg)
        onMsg(fields);
    else if (keyword == keyword::User)
        onUser(fields);
    else if (keyword == keyword::UserState)
        onUserState(fields);
    else if (keyword == keyword::PubMsg)
        onPubMsg(fields);
    else if (keyword == keyword::EndUsers)
        onEndUsers();
    else if (keyword == keyword::MotdLine)
        onMotdLine(fields);
    else if (keyword == keyword::Verify)
        onVerify(fields);
    else if (keyword == keyword::Ping)
        onPing();
    else if (keyword == keyword::CreateHost)
        onCreateHost(fields);
}

void Dispatcher::onVersion(Fields fields)
{
    if (fields.size() < 2)
        return;
    if (fields[1] == VersionGood) {
        client_.SendCommand(makeCommand(keyword::Login, {session_.MyName, session_.MyIP}));
        client_.loginWindow().setProgress(2);
    } else {
        client_.loginWindow().setStatusText("Incorrect client version.");
        client_.ReturnToLogin();
    }
}

void Dispatcher::onLogin(Fields fields)
{
    if (fields.size() < 2)
        return;
    // The entry itself may come later with the user list; a negative index can never name one.
    const auto index = lenientNumber<std::int16_t>(fields[1]);
    if (!index || *index < 0)
        return;
    session_.MyIndex = *index;
    client_.loginWindow().setProgress(3);
    client_.loginWindow().setStatusText("Login OK! Requesting userlist...");
    client_.lobbyWindow().setVisible(true);
    client_.SendCommand(keyword::GetUserList);
}

void Dispatcher::onMsg(Fields fields)
{
    if (fields.size() < 3)
        return;
    std::string line(fields[1]);
    line += DecryptText(fields[2]);
    client_.AddLog(line);
}

void Dispatcher::onUser(Fields fields)
{
    if (fields.size() < 4)
        return;
    const auto index = lenientNumber<std::int16_t>(fields[1]);
    if (!index || *index < 0)
        return;
    UserTable& users = users_;
    users.growTo(*index);
    UserInfo& user = users.edit(static_cast<std::size_t>(*index));
    storeField(user.Name, fields[2] == NoneValue ? std::string_view() : fields[2]);
    storeField(user.Extra, fields[3]);
    client_.entryChanged(*index);
    client_.UpdateUserList();
}

void Dispatcher::onUserState(Fields fields)
{
    if (fields.size() < 3)
        return;
    UserTable& users = users_;
    const auto index = lenientNumber<std::int32_t>(fields[1]);
    if (!index || !users.contains(*index))
        return;
    const std::string_view state = fields[2];
    const bool isClient = state == stateword::Client;
    const bool isHost = state == stateword::Host;

    // Every argument is read before anything happens, so a bad one leaves everything as it was.
    std::optional<std::int32_t> first, second;
    if (isClient || isHost) {
        if (fields.size() < (isHost ? 5u : 4u))
            return;
        first = lenientNumber<std::int32_t>(fields[3]);
        if (!first)
            return;
        if (isClient && fields.size() >= 5) {
            second = lenientNumber<std::int32_t>(fields[4]);
            if (!second)
                return;
        }
    }

    const auto i = static_cast<std::size_t>(*index);
    const std::int16_t me = session_.MyIndex;
    // The host of the hut we joined stopped hosting without starting the game: leave too.
    if (users.contains(me) && users[me].State == stateword::Client &&
        users[me].JoinedHost == *index && users[i].State == stateword::Host && !isHost &&
        state != stateword::Gaming)
        client_.SendCommand(keyword::BeIdle);

    UserInfo& user = users.edit(i);
    storeField(user.State, state);
    if (isClient) {
        user.JoinedHost = *first;
        if (second)
            user.Slot = *second;
    } else if (isHost) {
        user.HutSize = *first;
        storeField(user.HutPassword, fields[4]);
        if (*index == me)
            client_.lobbyWindow().setLaunchVisible(true);
    } else if (state == stateword::Idle && *index == me) {
        LobbyWindow& lobby = client_.lobbyWindow();
        lobby.setLaunchVisible(false);
        lobby.setExitVisible(false);
        lobby.setCreateVisible(true);
    }
    client_.entryChanged(*index);
    client_.UpdateUserList();
    client_.ConstructHuts();
}

void Dispatcher::onPubMsg(Fields fields)
{
    if (fields.size() < 3)
        return;
    std::string line(fields[1]);
    line += fields[2];
    client_.AddLog(line);
}

void Dispatcher::onEndUsers()
{
    client_.loginWindow().setVisible(false);
    client_.SendCommand(keyword::Motd);
}

void Dispatcher::onMotdLine(Fields fields)
{
    if (fields.size() < 2)
        return;
    client_.AddLog(DecryptText(fields[1]));
}

void Dispatcher::onVerify(Fields fields)
{
    if (fields.size() < 2)
        return;
    const auto challenge = strictNumber<std::int16_t>(fields[1]);
    if (!challenge)
        return;
    if (const auto response = verifyResponse(*challenge))
        client_.SendCommand(makeCommand(keyword::Verify, {std::to_string(*response)}));
}

void Dispatcher::onPing()
{
    client_.SendCommand(keyword::PingReply);
}

void Dispatcher::onCreateHost(Fields fields)
{
    if (fields.size() < 2)
        return;
    const auto index = strictNumber<std::int32_t>(fields[1]);
    if (!index || !users_.contains(*index))
        return;
    users_.edit(static_cast<std::size_t>(*index)).State = stateword::Host;
    client_.entryChanged(*index);
}

} // namespace stonecall
