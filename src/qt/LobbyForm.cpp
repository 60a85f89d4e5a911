#include "qt/LobbyForm.h"

#include "qt/Accessibility.h"
#include "qt/Charset.h"
#include "qt/QtTreeView.h"
#include "qt/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QTextCursor>

#include <iterator>
#include <limits>

namespace stonecall {

namespace {

QWidget* panel(const QString& name, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    widget->setObjectName(name);
    widget->setAutoFillBackground(true);
    // A panel has its place in the focus order but takes no focus by click: Qt would hand it
    // the focus of every click on a picture or label inside it, and typing would go astray.
    widget->setFocusPolicy(Qt::TabFocus);
    return widget;
}

// A one-line box holds as much as the user types or pastes; Qt's default cap would cut a
// long line without a sign.
void liftLengthLimit(QLineEdit* box)
{
    box->setMaxLength(std::numeric_limits<int>::max());
}

} // namespace

LobbyForm::LobbyForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint)
{
    installAccessibility();
    setObjectName("LobbyForm");
    setWindowTitle(QStringLiteral("Stonecall - Fernhollow"));
    setFixedSize(twipsRect(this, 0, 0, 12585, 9735).size());

    // Creation order is stacking order, bottom first: the options panel under the main panel;
    // tab 1 under the line, the line under tab 0. Panels and the tab strip never overlap, so
    // raising a panel cannot cover a tab or the line.
    FraOptions_ = panel("FraOptions", this);
    FraOptions_->setAccessibleName(QStringLiteral("Options"));
    placeTwips(FraOptions_, 120, 600, 12375, 9015);
    FraMain_ = panel("FraMain", this);
    FraMain_->setAccessibleName(QStringLiteral("Lobby"));
    placeTwips(FraMain_, 120, 600, 12375, 9015);

    Tabs_[1] =
        new PictureButton("Tabs1", QStringLiteral(":/art/tab-options.svg"),
                          QStringLiteral("Options"), QStringLiteral("Show the options"), this);
    placeTwips(Tabs_[1], 1140, 195, 1080, 405);
    Line1_ = new QFrame(this);
    Line1_->setObjectName("Line1");
    Line1_->setFrameShape(QFrame::HLine);
    Line1_->setFrameShadow(QFrame::Plain);
    Line1_->setLineWidth(1);
    // A line is one pixel thick whatever its length in twips.
    const QRect line = twipsRect(this, 1200, 525, 12600 - 1200, 0);
    Line1_->setGeometry(line.x(), line.y(), line.width(), 1);
    Tabs_[0] =
        new PictureButton("Tabs0", QStringLiteral(":/art/tab-lobby.svg"), QStringLiteral("Lobby"),
                          QStringLiteral("Show the huts, the chat and the users"), this);
    placeTwips(Tabs_[0], 120, 190, 1080, 405);
    for (int i = 0; i < 2; ++i)
        connect(Tabs_[i], &PictureButton::clicked, this, [this, i] { emit tabsClicked(i); });

    lstHuts_ = new QtTreeView(FraMain_);
    lstHuts_->view()->setObjectName("lstHuts");
    lstHuts_->view()->setAccessibleName(QStringLiteral("Huts"));
    placeTwips(lstHuts_->view(), 120, 120, 1935, 8295);
    connect(lstHuts_, &QtTreeView::doubleClicked, this, &LobbyForm::lstHutsDoubleClicked);
    hutsViewport_ = lstHuts_->view()->viewport();
    hutsViewport_->installEventFilter(this);

    TxChat_ = new ChatBox(FraMain_);
    TxChat_->setObjectName("TxChat");
    TxChat_->setAccessibleName(QStringLiteral("Chat"));
    TxChat_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TxChat_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab and Shift+Tab move through the window's controls; the log is no place for a tab.
    TxChat_->setTabChangesFocus(true);
    TxChat_->viewport()->installEventFilter(this);
    placeTwips(TxChat_, 2160, 120, 8055, 8295);

    LstUSers_ = new QtTreeView(FraMain_);
    LstUSers_->view()->setObjectName("LstUSers");
    LstUSers_->view()->setAccessibleName(QStringLiteral("Users"));
    placeTwips(LstUSers_->view(), 10320, 120, 1935, 8295);

    TxOut_ = new QLineEdit(FraMain_);
    TxOut_->setObjectName("TxOut");
    TxOut_->setAccessibleName(QStringLiteral("Chat message"));
    TxOut_->installEventFilter(this);
    liftLengthLimit(TxOut_);
    placeTwips(TxOut_, 2160, 8520, 8055, 285);

    // cmdExit lies exactly under cmdCreate: only one of them can be seen and clicked.
    cmdExit_ =
        new PictureButton("cmdExit", QStringLiteral(":/art/exit.svg"), QStringLiteral("Exit hut"),
                          QStringLiteral("Leave your hut"), FraMain_);
    placeTwips(cmdExit_, 120, 8520, 945, 330);
    cmdCreate_ = new PictureButton("cmdCreate", QStringLiteral(":/art/create.svg"),
                                   QStringLiteral("Create hut"),
                                   QStringLiteral("Host a hut for 2, 3 or 4 players"), FraMain_);
    placeTwips(cmdCreate_, 120, 8520, 945, 330);
    cmdLaunch_ = new PictureButton("cmdLaunch", QStringLiteral(":/art/launch.svg"),
                                   QStringLiteral("Launch game"),
                                   QStringLiteral("Start the game for your hut"), FraMain_);
    placeTwips(cmdLaunch_, 1080, 8520, 945, 330);
    cmdLaunch_->hide();
    cmdLogout_ =
        new PictureButton("cmdLogout", QStringLiteral(":/art/logout.svg"), QStringLiteral("Logout"),
                          QStringLiteral("Log out of the lobby"), FraMain_);
    placeTwips(cmdLogout_, 11280, 8520, 945, 330);
    connect(cmdCreate_, &PictureButton::clicked, this, &LobbyForm::cmdCreateClicked);
    connect(cmdExit_, &PictureButton::clicked, this, &LobbyForm::cmdExitClicked);
    connect(cmdLaunch_, &PictureButton::clicked, this, &LobbyForm::cmdLaunchClicked);
    connect(cmdLogout_, &PictureButton::clicked, this, &LobbyForm::cmdLogoutClicked);

    // The create-hut pop-up, created after lstHuts so that it covers the list's lower part.
    MenuGame_ = new QFrame(FraMain_);
    MenuGame_->setObjectName("MenuGame");
    MenuGame_->setAccessibleName(QStringLiteral("Create hut"));
    MenuGame_->setAutoFillBackground(true);
    MenuGame_->setFocusPolicy(Qt::TabFocus);
    MenuGame_->installEventFilter(this);
    // The frame is only painted: children keep their places relative to the panel's corner.
    MenuGame_->setFrameStyle(QFrame::WinPanel | QFrame::Raised);
    placeTwips(MenuGame_, 120, 6705, 1335, 1815);
    Label1_ = new QLabel(QStringLiteral("Password:"), MenuGame_);
    Label1_->setObjectName("Label1");
    Label1_->setTextFormat(Qt::PlainText);
    placeTwips(Label1_, 120, 120, 975, 255);
    TxPass_ = new QLineEdit(MenuGame_);
    TxPass_->setObjectName("TxPass");
    TxPass_->setAccessibleName(QStringLiteral("Hut password"));
    liftLengthLimit(TxPass_);
    Label1_->setBuddy(TxPass_);
    placeTwips(TxPass_, 120, 360, 1095, 285);
    const int hutCountTop[3] = {1440, 1080, 720};
    for (int i = 0; i < 3; ++i) {
        HutCount_[i] = new LabelButton(QStringLiteral("HutCount%1").arg(i),
                                       QStringLiteral("%1 Players").arg(i + 2), MenuGame_);
        HutCount_[i]->setToolTip(QStringLiteral("Host a hut for %1 players").arg(i + 2));
        placeTwips(HutCount_[i], 120, hutCountTop[i], 975, 255);
        HutCount_[i]->installEventFilter(this);
        connect(HutCount_[i], &LabelButton::clicked, this, [this, i] { emit hutCountClicked(i); });
    }
    MenuGame_->hide();

    applySystemColours();
    setFocusOrder();
}

void LobbyForm::setFocusOrder()
{
    // FraMain, TxChat, lstHuts, TxOut, LstUSers, FraOptions, MenuGame, TxPass; labels and
    // pictures take no focus. FraMain, first in the order, has the focus when the window opens.
    QWidget* const order[] = {FraMain_,          TxChat_,     lstHuts_->view(), TxOut_,
                              LstUSers_->view(), FraOptions_, MenuGame_,        TxPass_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    FraMain_->setFocus();
}

QColor LobbyForm::captionTextColour()
{
    return QApplication::palette().color(QPalette::Active, QPalette::HighlightedText);
}

void LobbyForm::applySystemColours()
{
    const QScopedValueRollback<bool> guard(applyingColours_, true);
    const QPalette system = QApplication::palette();
    QPalette own = palette();
    own.setColor(QPalette::Window, captionTextColour());
    setPalette(own);
    // The panels show the platform's background and text colours of text areas (white and
    // black in the default palettes), not the lobby window's own background nor the grey
    // face of buttons and dialogs. The create panel inside FraMain inherits them.
    for (QWidget* widget : {FraMain_, FraOptions_}) {
        QPalette colours = widget->palette();
        colours.setColor(QPalette::Window, system.color(QPalette::Base));
        colours.setColor(QPalette::WindowText, system.color(QPalette::Text));
        widget->setPalette(colours);
    }
}

void LobbyForm::changeEvent(QEvent* event)
{
    // A change of the application palette reaches a window as a change of its own palette.
    if (event->type() == QEvent::PaletteChange && !applyingColours_)
        applySystemColours();
    QWidget::changeEvent(event);
}

LobbyForm::~LobbyForm() = default;

void LobbyForm::unload()
{
    unloading_ = true;
    close();
}

void LobbyForm::setCaption(const std::string& caption)
{
    setWindowTitle(toQString(caption));
}

std::string LobbyForm::caption() const
{
    return fromQString(windowTitle());
}

TreeView& LobbyForm::LstUSers()
{
    return *LstUSers_;
}

TreeView& LobbyForm::lstHuts()
{
    return *lstHuts_;
}

std::size_t LobbyForm::chatLength() const
{
    return TxChat_->logLength();
}

void LobbyForm::appendToChat(std::string_view text)
{
    TxChat_->appendLog(text);
}

void LobbyForm::clearChat()
{
    TxChat_->clearLog();
}

void LobbyForm::moveChatCaretToEnd()
{
    TxChat_->moveCaretToEnd();
}

std::string LobbyForm::chatText() const
{
    return TxChat_->logText();
}

std::string LobbyForm::outText() const
{
    return fromQString(TxOut_->text());
}

void LobbyForm::setOutText(const std::string& text)
{
    TxOut_->setText(toQString(text));
}

std::string LobbyForm::passText() const
{
    return fromQString(TxPass_->text());
}

void LobbyForm::setLaunchVisible(bool visible)
{
    cmdLaunch_->setVisible(visible);
}
bool LobbyForm::isLaunchVisible() const
{
    return !cmdLaunch_->isHidden();
}
void LobbyForm::setExitVisible(bool visible)
{
    cmdExit_->setVisible(visible);
}
bool LobbyForm::isExitVisible() const
{
    return !cmdExit_->isHidden();
}
void LobbyForm::setCreateVisible(bool visible)
{
    cmdCreate_->setVisible(visible);
}
bool LobbyForm::isCreateVisible() const
{
    return !cmdCreate_->isHidden();
}
void LobbyForm::setMenuGameVisible(bool visible)
{
    MenuGame_->setVisible(visible);
}
bool LobbyForm::isMenuGameVisible() const
{
    return !MenuGame_->isHidden();
}
void LobbyForm::raiseMenuGame()
{
    MenuGame_->raise();
}

void LobbyForm::raiseTab(int index)
{
    if (index == 0 || index == 1)
        Tabs_[index]->raise();
}
void LobbyForm::raiseFraMain()
{
    FraMain_->raise();
}
void LobbyForm::raiseLine1()
{
    Line1_->raise();
}
void LobbyForm::raiseFraOptions()
{
    FraOptions_->raise();
}

// Only the chat lines wait for the end of the arrival; the window's updates stay on, so
// nothing but what changed is repainted, and the trees show their changes once per frame.
void LobbyForm::beginBurst()
{
    if (burstDepth_++ == 0)
        TxChat_->beginBatch();
}

void LobbyForm::endBurst()
{
    if (burstDepth_ == 0 || --burstDepth_ > 0)
        return;
    TxChat_->endBatch();
}

void LobbyForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!unloading_)
        emit closeRequested();
}

bool LobbyForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
        if (filterMouse(watched, static_cast<QMouseEvent*>(event)))
            return true;
        break;
    case QEvent::KeyPress:
        if (watched == TxOut_) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                emit txOutKeyPressed(13);
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool LobbyForm::filterMouse(QObject* watched, QMouseEvent* event)
{
    const bool left = event->button() == Qt::LeftButton;
    if (watched == hutsViewport_) {
        if (event->type() == QEvent::MouseButtonPress) {
            hutsPressedLeft_ = left;
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            // Qt makes a double-click of two quick presses wherever the first one landed: on
            // a label of the create panel that hid on its click, say, or with another button.
            // Only two left presses on the list join; any other second press is a first press.
            const bool joins = left && hutsPressedLeft_;
            hutsPressedLeft_ = false;
            if (!joins) {
                QMouseEvent press(QEvent::MouseButtonPress, event->position(),
                                  event->scenePosition(), event->globalPosition(), event->button(),
                                  event->buttons(), event->modifiers(), event->pointingDevice());
                QCoreApplication::sendEvent(hutsViewport_, &press);
                return true;
            }
        }
        return false;
    }
    if (event->type() != QEvent::MouseButtonRelease)
        hutsPressedLeft_ = false;

    // A click on a label or the chat log is a left press and a left release on it; the second
    // press of a double-click is not a click.
    int label = -1;
    for (int i = 0; i < 3; ++i)
        if (watched == HutCount_[i])
            label = i;
    auto* control = qobject_cast<QWidget*>(watched);
    if (label < 0 && watched != TxChat_->viewport())
        return false;
    if (event->type() == QEvent::MouseButtonPress && left) {
        clickDown_ = control;
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        clickDown_ = nullptr;
    } else if (event->type() == QEvent::MouseButtonRelease && left) {
        const bool clicked = clickDown_ == control && control->isVisible() &&
                             control->rect().contains(event->position().toPoint());
        clickDown_ = nullptr;
        if (clicked && label >= 0)
            HutCount_[label]->click();
        else if (clicked)
            emit txChatClicked();
    }
    // The labels do nothing else with the mouse; the log places its caret and selects.
    return label >= 0;
}

} // namespace stonecall
