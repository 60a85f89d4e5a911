#include "roster/ChatLog.h"

#include "platform/LobbyWindow.h"
#include "wire/Encryptor.h"
#include "wire/Keywords.h"
#include "wire/Wire.h"

namespace stonecall {

ChatLog::ChatLog(LobbyWindow& lobby, std::function<void(std::string)> send)
    : lobby_(lobby), send_(std::move(send))
{}

std::size_t ChatLog::logLengthOf(std::string_view line)
{
    // The log box ends every line with CR LF: a lone CR or LF becomes the pair.
    std::size_t length = line.size();
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\r' && i + 1 < line.size() && line[i + 1] == '\n')
            ++i;
        else if (line[i] == '\r' || line[i] == '\n')
            ++length;
    }
    return length;
}

void ChatLog::AddLog(std::string_view line)
{
    // The length is known before the box sees the line, so a line that would only be thrown
    // away is never laid out.
    const std::size_t added = logLengthOf(line) + 2;
    if (lobby_.chatLength() + added > MaxLogLength) {
        // The log starts afresh, with the newest line when it fits by itself.
        lobby_.clearChat();
        if (added > MaxLogLength)
            return;
    }
    // Append rather than rewrite the whole box, so a line costs what the line costs.
    std::string withBreak;
    withBreak.reserve(line.size() + 2);
    withBreak.append(line);
    withBreak.append("\r\n");
    lobby_.appendToChat(withBreak);
    lobby_.moveChatCaretToEnd();
}

void ChatLog::TxOut_KeyPress(int key)
{
    if (key != EnterKey)
        return;
    const std::string typed = lobby_.outText();
    send_(makeCommand(keyword::SendMsg, {EncryptText(typed)}));
    lobby_.setOutText({});
}

void ChatLog::TxChat_Click()
{
    lobby_.setMenuGameVisible(false);
}

} // namespace stonecall
