#pragma once

#include "platform/LobbyWindow.h"
#include "qt/ChatBox.h"

#include <QWidget>

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "qt/LabelButton.h"
#include "qt/PictureButton.h"

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
    QFrame* MenuGame() const { return MenuGame_; }
    QLabel* Label1() const { return Label1_; }
    QFrame* Line1() const { return Line1_; }
    PictureButton* cmdCreate() const { return cmdCreate_; }
    PictureButton* cmdExit() const { return cmdExit_; }
    PictureButton* cmdLaunch() const { return cmdLaunch_; }
    PictureButton* cmdLogout() const { return cmdLogout_; }
    PictureButton* Tabs(int index) const { return Tabs_[index]; }
    LabelButton* HutCount(int index) const { return HutCount_[index]; }

    // The window's own background: the text colour of an active window caption. Qt's styles
    // draw an active title bar's text in the Active group's HighlightedText colour.
    static QColor captionTextColour();

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
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applySystemColours();
    void setFocusOrder();
    // Turns presses and releases into the clicks of the labels and the log, and keeps a
    // double-click on lstHuts to two left presses on it. True when the event is used up.
    bool filterMouse(QObject* watched, QMouseEvent* event);

    PictureButton* Tabs_[2];
    QFrame* Line1_;
    QWidget* FraMain_;
    QWidget* FraOptions_;
    QtTreeView* lstHuts_;
    ChatBox* TxChat_;
    QtTreeView* LstUSers_;
    QLineEdit* TxOut_;
    PictureButton* cmdCreate_;
    PictureButton* cmdExit_;
    PictureButton* cmdLaunch_;
    PictureButton* cmdLogout_;
    QFrame* MenuGame_;
    QLabel* Label1_;
    QLineEdit* TxPass_;
    LabelButton* HutCount_[3];
    QWidget* hutsViewport_ = nullptr;
    // The label or log that the left button went down on, until it comes up.
    QWidget* clickDown_ = nullptr;
    // The last press on the window's watched controls was a left press on lstHuts.
    bool hutsPressedLeft_ = false;
    int burstDepth_ = 0;
    bool unloading_ = false;
    bool applyingColours_ = false;
};

} // namespace stonecall
