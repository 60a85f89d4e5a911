#include "huts/HutActions.h"

#include "platform/Dialogs.h"
#include "platform/LobbyWindow.h"
#include "platform/TreeView.h"
#include "roster/TreeKeys.h"
#include "session/Session.h"
#include "wire/Keywords.h"
#include "wire/LowerCase.h"
#include "wire/Wire.h"

#include <optional>
#include <string_view>

namespace stonecall {

namespace {

constexpr std::string_view NoPassword = NoneValue;

// The host index of a hut node's key, when it names an entry of the table.
std::optional<int> hostIndexOf(std::string_view hutKey, const UserTable& users)
{
    const std::optional<int> host = treeKeys::hostOf(hutKey);
    return host && users.contains(*host) ? host : std::nullopt;
}

} // namespace

HutActions::HutActions(Session& session, LobbyWindow& lobby, Dialogs& dialogs, Send send)
    : session_(session), lobby_(lobby), dialogs_(dialogs), send_(std::move(send))
{}

void HutActions::cmdCreate_Click()
{
    lobby_.raiseMenuGame();
    lobby_.setMenuGameVisible(!lobby_.isMenuGameVisible());
}

void HutActions::HutCount_Click(std::int16_t index)
{
    if (index < 0 || index > 2)
        return;
    std::string password = lobby_.passText();
    if (const auto reason = unsendableFieldReason(password)) {
        // Sent as is it would break the message apart; the panel stays open for a new try.
        dialogs_.MsgBox("This password cannot be used: " + *reason + ".");
        return;
    }
    if (password.empty())
        password = NoPassword;
    send_(makeCommand(keyword::BeHost, {std::to_string(index + 2), password}));
    lobby_.setMenuGameVisible(false);
    lobby_.setCreateVisible(false);
    lobby_.setExitVisible(true);
}

void HutActions::cmdExit_Click()
{
    send_(keyword::BeIdle);
}

void HutActions::cmdLaunch_Click()
{
    dialogs_.MsgBox("Wait for next version :o");
}

void HutActions::lstHuts_DblClick()
{
    TreeView& tree = lobby_.lstHuts();
    const std::optional<std::string> key = tree.selectedKey();
    if (!key || !tree.contains(*key) || tree.childCount(*key) > 0 || !treeKeys::isEmptyPlace(*key))
        return;
    const std::optional<int> host = hostIndexOf(tree.parentKey(*key), session_.Users);
    if (!host || *host == session_.MyIndex)
        return;
    // Read before the input box: server messages handled while it is open may rebuild the tree.
    const std::optional<int> tag = tree.tag(*key);

    if (session_.Users[static_cast<std::size_t>(*host)].HutPassword != NoPassword) {
        const std::string answer = dialogs_.InputBox(PasswordPrompt, PasswordTitle);
        if (answer.empty())
            return;
        // The table may have changed meanwhile: look the host up again.
        if (!equalsIgnoringCase(answer,
                                session_.Users[static_cast<std::size_t>(*host)].HutPassword)) {
            dialogs_.MsgBox("Wrong password!");
            return;
        }
    }
    send_(makeCommand(keyword::BeClient,
                      {std::to_string(*host), tag ? std::to_string(*tag) : std::string()}));
}

} // namespace stonecall
