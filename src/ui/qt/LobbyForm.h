#pragma once

#include "ui/LobbyWindow.h"

#include <QWidget>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace stonecall {

class QtTreeView;

// The main window: huts, chat log and input, users, hut buttons, the create panel and tabs.
class LobbyForm final : public QWidget, public LobbyWindow {
    Q_OBJECT
public:
    explicit LobbyForm(QWidget* parent = nullptr);
    ~LobbyForm() override;

    void setVisible(bool visible) override { QWidget::setVisible(visible); }
    bool isVisible() const override { return QWidget::isVisible(); }
    void unload() override;
    void setCaption(const std::string& caption) override;
    std::string caption() const override;

    TreeView& LstUSers() override;
    TreeView& lstHuts() override;

    std::size_t chatLength() const override;
    void appendToChat(std::string_view text) override;
    void clearChat() override;
    void moveChatCaretToEnd() override;
    std::string chatText() const override;

    std::string outText() const override;
    void setOutText(const std::string& text) override;
    std::string passText() const override;

    void setLaunchVisible(bool visible) override;
    bool isLaunchVisible() const override;
    void setExitVisible(bool visible) override;
    bool isExitVisible() const override;
    void setCreateVisible(bool visible) override;
    bool isCreateVisible() const override;
    void setMenuGameVisible(bool visible) override;
    bool isMenuGameVisible() const override;
    void raiseMenuGame() override;

    void raiseTab(int index) override;
    void raiseFraMain() override;
    void raiseLine1() override;
    void raiseFraOptions() override;

    void beginBurst() override;
    void endBurst() override;

    // The controls, for tests and for the window's own wiring.
    QtTreeView& lstHutsView() const { return *lstHuts_; }
    QtTreeView& LstUSersView() const { return *LstUSers_; }
    QPlainTextEdit* TxChat() const { return TxChat_; }
    QLineEdit* TxOut() const { return TxOut_; }
    QLineEdit* TxPass() const { return TxPass_; }
    QWidget* FraMain() const { return FraMain_; }
    QWidget* FraOptions() const { return FraOptions_; }
    QWidget* MenuGame() const { return MenuGame_; }
    QWidget* cmdCreate() const { return cmdCreate_; }
    QWidget* cmdExit() const { return cmdExit_; }
    QWidget* cmdLaunch() const { return cmdLaunch_; }
    QWidget* cmdLogout() const { return cmdLogout_; }
    QWidget* Tabs(int index) const { return Tabs_[index]; }
    QWidget* HutCount(int index) const { return HutCount_[index]; }

signals:
    void closeRequested();
    void cmdLogoutClicked();
    void cmdCreateClicked();
    void cmdExitClicked();
    void cmdLaunchClicked();
    void hutCountClicked(int index);
    void tabsClicked(int index);
    void txOutKeyPressed(int key);
    void txChatClicked();
    void lstHutsDoubleClicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* Tabs_[2];
    QFrame* Line1_;
    QWidget* FraMain_;
    QWidget* FraOptions_;
    QtTreeView* lstHuts_;
    QPlainTextEdit* TxChat_;
    QtTreeView* LstUSers_;
    QLineEdit* TxOut_;
    QPushButton* cmdCreate_;
    QPushButton* cmdExit_;
    QPushButton* cmdLaunch_;
    QPushButton* cmdLogout_;
    QWidget* MenuGame_;
    QLineEdit* TxPass_;
    QLabel* HutCount_[3];
    int burstDepth_ = 0;
    bool unloading_ = false;
};

} // namespace stonecall
