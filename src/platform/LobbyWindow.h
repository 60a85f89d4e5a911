#pragma once
// What the core needs of the lobby window. Texts are byte strings in the client's
// single-byte character set.

#include <cstddef>
#include <string>
#include <string_view>

namespace stonecall {

class TreeView;

class LobbyWindow {
public:
    virtual ~LobbyWindow() = default;

    virtual void setVisible(bool visible) = 0;
    virtual bool isVisible() const = 0;
    virtual void unload() = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual std::string caption() const = 0;

    virtual TreeView& LstUSers() = 0;
    virtual TreeView& lstHuts() = 0;

    // TxChat, the chat and activity log. Its length counts a line break as the two
    // characters CR and LF.
    virtual std::size_t chatLength() const = 0;
    virtual void appendToChat(std::string_view text) = 0;
    virtual void clearChat() = 0;
    virtual void moveChatCaretToEnd() = 0;
    virtual std::string chatText() const = 0;

    // TxOut, the chat input, and TxPass, the password of a hut to create.
    virtual std::string outText() const = 0;
    virtual void setOutText(const std::string& text) = 0;
    virtual std::string passText() const = 0;

    // The hut buttons and the create panel.
    virtual void setLaunchVisible(bool visible) = 0;
    virtual bool isLaunchVisible() const = 0;
    virtual void setExitVisible(bool visible) = 0;
    virtual bool isExitVisible() const = 0;
    virtual void setCreateVisible(bool visible) = 0;
    virtual bool isCreateVisible() const = 0;
    virtual void setMenuGameVisible(bool visible) = 0;
    virtual bool isMenuGameVisible() const = 0;
    virtual void raiseMenuGame() = 0;

    // Stacking of the tabs and panels.
    virtual void raiseTab(int index) = 0;
    virtual void raiseFraMain() = 0;
    virtual void raiseLine1() = 0;
    virtual void raiseFraOptions() = 0;

    // Brackets the messages of one arrival, so that the window can apply its chat lines in
    // one go. The trees show their changes at the end of the frame by themselves.
    virtual void beginBurst() = 0;
    virtual void endBurst() = 0;
};

} // namespace stonecall
