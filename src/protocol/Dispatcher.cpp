#include "protocol/Dispatcher.h"

#include "app/Session.h"
#include "protocol/ClientActions.h"
#include "protocol/Wire.h"
#include "ui/LoginWindow.h"

namespace stonecall {

void Dispatcher::dispatch(std::span<const std::string_view> fields)
{
    const std::string_view keyword = fields[0];
    if (keyword == "VERSION")
        onVersion(fields);
}

void Dispatcher::onVersion(std::span<const std::string_view> fields)
{
    if (fields.size() < 2)
        return;
    if (fields[1] == "GOOD") {
        client_.SendCommand(makeCommand("LOGIN", {session_.MyName, session_.MyIP}));
        client_.loginWindow().setProgress(2);
    } else {
        client_.loginWindow().setStatusText("Incorrect client version.");
        client_.ReturnToLogin();
    }
}

} // namespace stonecall
