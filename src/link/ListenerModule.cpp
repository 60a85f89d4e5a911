#include "link/ListenerModule.h"

#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Socket.h"

#include <algorithm>
#include <limits>

namespace stonecall {

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsUpperCased(std::string_view text, std::string_view upperCase)
{
    return text.size() == upperCase.size() &&
           std::equal(text.begin(), text.end(), upperCase.begin(),
                      [](char a, char b) { return upper(a) == b; });
}

} // namespace

ListenerModule::ListenerModule(Socket& VLan0, Dialogs& dialogs, Application& app,
                               std::function<void()> ensureLobbyLoaded)
    : VLan0_(VLan0), dialogs_(dialogs), app_(app), ensureLobbyLoaded_(std::move(ensureLobbyLoaded))
{
    VLan0_.onConnectionRequest = [this](int requestId) { VLan0_ConnectionRequest(requestId); };
    VLan0_.onDataArrival = [this](std::size_t bytesTotal) { VLan0_DataArrival(bytesTotal); };
}

ListenerModule::~ListenerModule()
{
    VLan0_.onConnectionRequest = nullptr;
    VLan0_.onDataArrival = nullptr;
}

void ListenerModule::StartListener()
{
    LinkFieldSep = static_cast<char>(169);
    LinkMsgEnd = static_cast<char>(174);
    LinkSpareMark = static_cast<char>(171);
    LinkAddress = "127.0.0.1";
    LinkPort = 8057;
    ensureLobbyLoaded_();
    // The port is only recorded: nothing listens on it, so the link stays idle.
    VLan0_.setLocalPort(LinkPort);
}

void ListenerModule::VLan0_ConnectionRequest(int requestId)
{
    // One connection at a time: a new request replaces the current one.
    VLan0_.Close();
    VLan0_.Accept(requestId);
}

void ListenerModule::VLan0_DataArrival(std::size_t bytesTotal)
{
    const auto limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    ListenerReceive(static_cast<std::int32_t>(std::min(bytesTotal, limit)));
}

std::string_view ListenerModule::LinkBuffer() const
{
    return std::string_view(buffer_).substr(consumed_);
}

void ListenerModule::ListenerReceive(std::int32_t bytesTotal)
{
    buffer_ += VLan0_.GetData(static_cast<std::size_t>(std::max<std::int32_t>(bytesTotal, 0)));
    dropOversizedTail();
    dialogs_.MsgBox(std::string(LinkBuffer()));
    // A box, a handler or the pass of the event loop may let a further arrival in, which
    // appends to the buffer and cuts every complete message in it itself. So the next
    // terminator is looked for in the buffer as it stands each time, never remembered.
    std::string message;
    while (cutNextMessage(message)) {
        LinkMessageCount =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(LinkMessageCount) + 1u);
        if (!message.empty())
            HandleListenerMessage(message);
        app_.DoEvents();
    }
}

void ListenerModule::HandleListenerMessage(std::string_view message)
{
    const std::size_t keywordEnd = message.find(LinkFieldSep);
    if (!equalsUpperCased(message.substr(0, keywordEnd), "SENDBROADCAST"))
        return;
    // Without a second field there is no text; an empty one is shown.
    std::string_view text;
    if (keywordEnd != std::string_view::npos) {
        text = message.substr(keywordEnd + 1);
        text = text.substr(0, text.find(LinkFieldSep));
    }
    BroadcastText = std::string(text);
    dialogs_.MsgBox(BroadcastText);
}

bool ListenerModule::cutNextMessage(std::string& message)
{
    const std::size_t end = buffer_.find(LinkMsgEnd, consumed_);
    if (end == std::string::npos)
        return false;
    message.assign(buffer_, consumed_, end - consumed_);
    consumed_ = end + 1;
    if (consumed_ == buffer_.size() || consumed_ > buffer_.size() / 2) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    return true;
}

void ListenerModule::dropOversizedTail()
{
    const std::size_t lastEnd = buffer_.rfind(LinkMsgEnd);
    const std::size_t tailStart =
        lastEnd == std::string::npos || lastEnd < consumed_ ? consumed_ : lastEnd + 1;
    if (buffer_.size() - tailStart > MaxUnfinishedMessage)
        buffer_.erase(tailStart);
}

} // namespace stonecall
