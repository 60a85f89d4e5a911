#pragma once
// In-memory windows, dialogs and application for core tests.

#include "FakeTreeView.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/LobbyWindow.h"
#include "platform/LoginWindow.h"

#include <deque>
#include <string>
#include <vector>

namespace stonecall::testing {

class FakeLoginWindow final : public LoginWindow {
public:
    void setVisible(bool v) override { visible = v; }
    bool isVisible() const override { return visible; }
    void unload() override { unloaded = true, visible = false; }
    std::string usrNameText() const override { return usrName; }
    void setStatusText(const std::string& text) override { status = text; }
    std::string statusText() const override { return status; }
    void setProgress(int value) override { progressValue = value; }
    int progress() const override { return progressValue; }

    bool visible = false;
    bool unloaded = false;
    std::string usrName;
    std::string status;
    int progressValue = 0;
};

class FakeLobbyWindow final : public LobbyWindow {
public:
    void setVisible(bool v) override { visible = v; }
    bool isVisible() const override { return visible; }
    void unload() override { unloaded = true, visible = false; }
    void setCaption(const std::string& text) override { captionText = text; }
    std::string caption() const override { return captionText; }
    TreeView& LstUSers() override { return users; }
    TreeView& lstHuts() override { return huts; }
    std::size_t chatLength() const override { return chat.size(); }
    void appendToChat(std::string_view text) override { chat += text; }
    void clearChat() override { chat.clear(); }
    void moveChatCaretToEnd() override { caretAtEnd = true; }
    std::string chatText() const override { return chat; }
    std::string outText() const override { return out; }
    void setOutText(const std::string& text) override { out = text; }
    std::string passText() const override { return pass; }
    void setLaunchVisible(bool v) override { launch = v; }
    bool isLaunchVisible() const override { return launch; }
    void setExitVisible(bool v) override { exit = v; }
    bool isExitVisible() const override { return exit; }
    void setCreateVisible(bool v) override { create = v; }
    bool isCreateVisible() const override { return create; }
    void setMenuGameVisible(bool v) override { menuGame = v; }
    bool isMenuGameVisible() const override { return menuGame; }
    void raiseMenuGame() override { raised.push_back("MenuGame"); }
    void raiseTab(int index) override { raised.push_back("Tabs" + std::to_string(index)); }
    void raiseFraMain() override { raised.push_back("FraMain"); }
    void raiseLine1() override { raised.push_back("Line1"); }
    void raiseFraOptions() override { raised.push_back("FraOptions"); }
    void beginBurst() override { ++burstDepth; }
    void endBurst() override { --burstDepth; }

    bool visible = false;
    bool unloaded = false;
    std::string captionText;
    FakeTreeView users;
    FakeTreeView huts;
    std::string chat;
    bool caretAtEnd = false;
    std::string out;
    std::string pass;
    bool launch = false;
    bool exit = true; // lies under cmdCreate at start
    bool create = true;
    bool menuGame = false;
    std::vector<std::string> raised;
    int burstDepth = 0;
};

// Records every dialog and answers input boxes from a script.
class FakeDialogs final : public Dialogs {
public:
    void MsgBox(const std::string& text) override
    {
        shown.push_back(text);
        if (onMsgBox)
            onMsgBox(text);
    }
    std::string InputBox(const std::string& prompt, const std::string& title) override
    {
        shown.push_back("[" + title + "] " + prompt);
        if (answers.empty())
            return {};
        std::string answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<std::string> shown;
    std::deque<std::string> answers;
    std::function<void(const std::string&)> onMsgBox; // runs while the box is "open"
};

class FakeApplication final : public Application {
public:
    void quit() override { quitCalled = true; }
    void DoEvents() override
    {
        ++doEventsCalls;
        if (onDoEvents)
            onDoEvents();
    }

    bool quitCalled = false;
    int doEventsCalls = 0;
    std::function<void()> onDoEvents;
};

} // namespace stonecall::testing
