#include "roster/ChatLog.h"

#include "platform/LobbyWindow.h"
#include "wire/Encryptor.h"
#include "wire/Wire.h"

namespace stonecall {

ChatLog::ChatLog(LobbyWindow& lobby, std::function<void(std::string)> send)
    : lobby_(lobby), send_(std::move(send))
{}

void ChatLog::AddLog(std::string_view line)
{
    // Append rather than rewrite the whole box, so a line costs what the line costs.
    std::string withBreak;
    withBreak.reserve(line.size() + 2);
    withBreak.append(line);
    withBreak.append("\r\n");
    lobby_.appendToChat(withBreak);
    lobby_.moveChatCaretToEnd();
    if (lobby_.chatLength() > MaxLogLength)
        lobby_.clearChat();
}

void ChatLog::TxOut_KeyPress(int key)
{
    if (key != EnterKey)
        return;
    const std::string typed = lobby_.outText();
    send_(makeCommand("SENDMSG", {EncryptText(typed)}));
    lobby_.setOutText({});
}

void ChatLog::TxChat_Click()
{
    lobby_.setMenuGameVisible(false);
}

} // namespace stonecall
