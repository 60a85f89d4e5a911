#pragma once
// What the local user does with huts: opening the create panel, hosting, leaving, the
// launch notice, and joining another user's hut from the hut list.

#include <cstdint>
#include <functional>
#include <string>

namespace stonecall {

class Dialogs;
class LobbyWindow;
struct Session;

class HutActions {
public:
    // send takes one message without its end mark.
    using Send = std::function<void(std::string)>;

    HutActions(Session& session, LobbyWindow& lobby, Dialogs& dialogs, Send send);

    void cmdCreate_Click();
    // index: the clicked HutCount label, 0 to 2 for "2 Players" to "4 Players".
    void HutCount_Click(std::int16_t index);
    void cmdExit_Click();
    void cmdLaunch_Click();
    void lstHuts_DblClick();

    static constexpr const char* PasswordTitle = "Join Hut: Password Needed";
    static constexpr const char* PasswordPrompt =
        "A password is required to join this hut!\r\n\r\nGive password:";

private:
    Session& session_;
    LobbyWindow& lobby_;
    Dialogs& dialogs_;
    Send send_;
};

} // namespace stonecall
