#include "Huts.h"

#include "Fields.h"
#include "Notices.h"
#include "Rules.h"
#include "wire/Keywords.h"
#include "wire/Numbers.h"
#include "wire/Wire.h"

#include <charconv>

namespace stonecall::server {

void Huts::beHost(std::int16_t me, const std::vector<std::string_view>& fields)
{
    User& user = users_[me];
    const std::optional<std::int32_t> size = numberField(fields, 1);
    const std::string_view given = fields.size() >= 3 ? fields[2] : std::string_view();
    if (user.state == UserState::Host || !size || *size < 2 || *size > 4)
        return;
    if (!acceptablePassword(given)) {
        const bool tooLong = given.size() > MaxPasswordLength;
        refuse(me, tooLong ? notice::PasswordTooLong : notice::PasswordUnusable);
        floor_.note(me, LogLevel::Info,
                    tooLong ? "hut refused: password too long" : "hut refused: unusable password");
        return;
    }
    if (user.state == UserState::Client)
        leaveHut(me); // asking for a hut of one's own is the way out of another
    user.state = UserState::Host;
    user.hutSize = static_cast<std::int8_t>(*size);
    // An empty password would be a real one that nobody can type; it means an open hut.
    user.password = given.empty() ? NoneValue : std::string(given);
    user.places = {};
    floor_.broadcast(stateMessage(me));
}

void Huts::beClient(std::int16_t me, const std::vector<std::string_view>& fields)
{
    const std::optional<std::int32_t> host = numberField(fields, 1);
    if (users_[me].state != UserState::Idle || !host || *host == me || !isUser(*host))
        return;
    User& hut = users_[*host];
    if (hut.state != UserState::Host) {
        refuse(me, notice::HutGone);
        return;
    }
    int place = numberField(fields, 2).value_or(0);
    if (place < 1 || place >= hut.hutSize || hut.places[place] != 0) {
        place = 0;
        for (int p = 1; p < hut.hutSize && place == 0; ++p)
            if (hut.places[p] == 0)
                place = p;
    }
    if (place == 0) {
        refuse(me, notice::HutFull);
        floor_.note(me, LogLevel::Info, "join refused: hut " + std::to_string(*host) + " full");
        return;
    }
    hut.places[place] = me;
    User& user = users_[me];
    user.state = UserState::Client;
    user.host = static_cast<std::int16_t>(*host);
    user.place = static_cast<std::int8_t>(place);
    floor_.broadcast(stateMessage(me));
}

void Huts::beIdle(std::int16_t me)
{
    switch (users_[me].state) {
    case UserState::Idle:
        // Nothing changes, but the asking client waits for this answer to reset its buttons.
        floor_.tell(me, stateMessage(me));
        return;
    case UserState::Client:
        leaveHut(me);
        break;
    case UserState::Host:
        closeHut(me);
        break;
    }
    users_[me].state = UserState::Idle;
    floor_.broadcast(stateMessage(me));
}

void Huts::leaveLobby(std::int16_t index)
{
    if (users_[index].state == UserState::Idle)
        return;
    if (users_[index].state == UserState::Host)
        closeHut(index);
    else
        leaveHut(index);
    users_[index].state = UserState::Idle;
    floor_.broadcast(stateMessage(index));
}

void Huts::refuse(std::int16_t me, std::string_view notice)
{
    floor_.tell(me, noticeMessage(notice));
    floor_.tell(me, stateMessage(me));
}

void Huts::leaveHut(std::int16_t member)
{
    User& user = users_[member];
    User& host = users_[user.host];
    if (user.place >= 1 && user.place <= 3 && host.places[user.place] == member)
        host.places[user.place] = 0;
    user.host = 0;
    user.place = 0;
}

void Huts::closeHut(std::int16_t host)
{
    for (int p = 1; p <= 3; ++p) {
        const std::int16_t member = users_[host].places[p];
        if (member == 0)
            continue;
        leaveHut(member);
        users_[member].state = UserState::Idle;
        floor_.broadcast(stateMessage(member));
    }
}

bool Huts::isUser(long index) const
{
    return index >= 1 && index < static_cast<long>(users_.size()) &&
           users_[static_cast<std::size_t>(index)].connection != 0;
}

std::string Huts::stateMessage(std::int16_t index) const
{
    std::string text;
    appendState(text, index);
    return text;
}

void Huts::appendState(std::string& text, std::int16_t index) const
{
    const User& user = users_[index];
    switch (user.state) {
    case UserState::Host:
        appendCommand(text, keyword::UserState,
                      {Digits(index), stateword::Host, Digits(user.hutSize), user.password});
        return;
    case UserState::Client:
        appendCommand(text, keyword::UserState,
                      {Digits(index), stateword::Client, Digits(user.host), Digits(user.place)});
        return;
    case UserState::Idle:
        break;
    }
    appendCommand(text, keyword::UserState, {Digits(index), stateword::Idle});
}

} // namespace stonecall::server
