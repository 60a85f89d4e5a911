#include "ui/qt/LobbyForm.h"

#include "ui/qt/Charset.h"
#include "ui/qt/QtTreeView.h"
#include "ui/qt/Twips.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>

namespace stonecall {

namespace {

QPushButton* pictureButton(const QString& name, const QString& text, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    return button;
}

QLabel* clickableLabel(const QString& name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

} // namespace

LobbyForm::LobbyForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName("LobbyForm");
    setWindowTitle(QStringLiteral("Stonecall - Fernhollow"));
    setFixedSize(twipsRect(this, 0, 0, 12585, 9735).size());

    FraOptions_ = new QWidget(this);
    FraOptions_->setObjectName("FraOptions");
    FraOptions_->setAutoFillBackground(true);
    placeTwips(FraOptions_, 120, 600, 12375, 9015);

    FraMain_ = new QWidget(this);
    FraMain_->setObjectName("FraMain");
    FraMain_->setAutoFillBackground(true);
    placeTwips(FraMain_, 120, 600, 12375, 9015);

    Tabs_[1] = clickableLabel("Tabs1", QStringLiteral("Options"), this);
    placeTwips(Tabs_[1], 1140, 195, 1080, 405);
    Tabs_[0] = clickableLabel("Tabs0", QStringLiteral("Lobby"), this);
    placeTwips(Tabs_[0], 120, 190, 1080, 405);
    for (int i = 0; i < 2; ++i) {
        Tabs_[i]->setAlignment(Qt::AlignCenter);
        Tabs_[i]->setFrameShape(QFrame::Panel);
        Tabs_[i]->installEventFilter(this);
    }
    Line1_ = new QFrame(this);
    Line1_->setObjectName("Line1");
    Line1_->setFrameShape(QFrame::HLine);
    const QRect line = twipsRect(this, 1200, 525, 12600 - 1200, 15);
    Line1_->setGeometry(line.x(), line.y(), line.width(), 1);

    lstHuts_ = new QtTreeView(FraMain_);
    lstHuts_->widget()->setObjectName("lstHuts");
    placeTwips(lstHuts_->widget(), 120, 120, 1935, 8295);
    connect(lstHuts_, &QtTreeView::doubleClicked, this, &LobbyForm::lstHutsDoubleClicked);

    TxChat_ = new QPlainTextEdit(FraMain_);
    TxChat_->setObjectName("TxChat");
    TxChat_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TxChat_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    TxChat_->viewport()->installEventFilter(this);
    placeTwips(TxChat_, 2160, 120, 8055, 8295);

    LstUSers_ = new QtTreeView(FraMain_);
    LstUSers_->widget()->setObjectName("LstUSers");
    placeTwips(LstUSers_->widget(), 10320, 120, 1935, 8295);

    TxOut_ = new QLineEdit(FraMain_);
    TxOut_->setObjectName("TxOut");
    TxOut_->installEventFilter(this);
    placeTwips(TxOut_, 2160, 8520, 8055, 285);

    cmdExit_ = pictureButton("cmdExit", QStringLiteral("Exit"), FraMain_);
    placeTwips(cmdExit_, 120, 8520, 945, 330);
    cmdCreate_ = pictureButton("cmdCreate", QStringLiteral("Create"), FraMain_);
    placeTwips(cmdCreate_, 120, 8520, 945, 330);
    cmdLaunch_ = pictureButton("cmdLaunch", QStringLiteral("Launch"), FraMain_);
    placeTwips(cmdLaunch_, 1080, 8520, 945, 330);
    cmdLaunch_->hide();
    cmdLogout_ = pictureButton("cmdLogout", QStringLiteral("Logout"), FraMain_);
    placeTwips(cmdLogout_, 11280, 8520, 945, 330);
    connect(cmdCreate_, &QPushButton::clicked, this, &LobbyForm::cmdCreateClicked);
    connect(cmdExit_, &QPushButton::clicked, this, &LobbyForm::cmdExitClicked);
    connect(cmdLaunch_, &QPushButton::clicked, this, &LobbyForm::cmdLaunchClicked);
    connect(cmdLogout_, &QPushButton::clicked, this, &LobbyForm::cmdLogoutClicked);

    MenuGame_ = new QWidget(FraMain_);
    MenuGame_->setObjectName("MenuGame");
    MenuGame_->setAutoFillBackground(true);
    placeTwips(MenuGame_, 120, 6705, 1335, 1815);
    placeTwips(new QLabel(QStringLiteral("Password:"), MenuGame_), 120, 120, 975, 255);
    TxPass_ = new QLineEdit(MenuGame_);
    TxPass_->setObjectName("TxPass");
    placeTwips(TxPass_, 120, 360, 1095, 285);
    const int hutCountTop[3] = {1440, 1080, 720};
    for (int i = 0; i < 3; ++i) {
        HutCount_[i] = clickableLabel(QStringLiteral("HutCount%1").arg(i), QStringLiteral("%1 Players").arg(i + 2),
                                      MenuGame_);
        placeTwips(HutCount_[i], 120, hutCountTop[i], 975, 255);
        HutCount_[i]->installEventFilter(this);
    }
    MenuGame_->hide();
}

LobbyForm::~LobbyForm() = default;

void LobbyForm::unload()
{
    unloading_ = true;
    close();
}

void LobbyForm::setCaption(const std::string& caption) { setWindowTitle(toQString(caption)); }

std::string LobbyForm::caption() const { return fromQString(windowTitle()); }

TreeView& LobbyForm::LstUSers() { return *LstUSers_; }

TreeView& LobbyForm::lstHuts() { return *lstHuts_; }

std::size_t LobbyForm::chatLength() const { return chatText().size(); }

void LobbyForm::appendToChat(std::string_view text)
{
    QTextCursor cursor(TxChat_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(toQString(text));
}

void LobbyForm::clearChat() { TxChat_->clear(); }

void LobbyForm::moveChatCaretToEnd() { TxChat_->moveCursor(QTextCursor::End); }

std::string LobbyForm::chatText() const
{
    QString text = TxChat_->toPlainText();
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return fromQString(text);
}

std::string LobbyForm::outText() const { return fromQString(TxOut_->text()); }

void LobbyForm::setOutText(const std::string& text) { TxOut_->setText(toQString(text)); }

std::string LobbyForm::passText() const { return fromQString(TxPass_->text()); }

void LobbyForm::setLaunchVisible(bool visible) { cmdLaunch_->setVisible(visible); }
bool LobbyForm::isLaunchVisible() const { return !cmdLaunch_->isHidden(); }
void LobbyForm::setExitVisible(bool visible) { cmdExit_->setVisible(visible); }
bool LobbyForm::isExitVisible() const { return !cmdExit_->isHidden(); }
void LobbyForm::setCreateVisible(bool visible) { cmdCreate_->setVisible(visible); }
bool LobbyForm::isCreateVisible() const { return !cmdCreate_->isHidden(); }
void LobbyForm::setMenuGameVisible(bool visible) { MenuGame_->setVisible(visible); }
bool LobbyForm::isMenuGameVisible() const { return !MenuGame_->isHidden(); }
void LobbyForm::raiseMenuGame() { MenuGame_->raise(); }

void LobbyForm::raiseTab(int index)
{
    if (index == 0 || index == 1)
        Tabs_[index]->raise();
}
void LobbyForm::raiseFraMain() { FraMain_->raise(); }
void LobbyForm::raiseLine1() { Line1_->raise(); }
void LobbyForm::raiseFraOptions() { FraOptions_->raise(); }

void LobbyForm::beginBurst()
{
    if (burstDepth_++ > 0)
        return;
    setUpdatesEnabled(false);
    lstHuts_->beginUpdate();
    LstUSers_->beginUpdate();
}

void LobbyForm::endBurst()
{
    if (burstDepth_ == 0 || --burstDepth_ > 0)
        return;
    LstUSers_->endUpdate();
    lstHuts_->endUpdate();
    setUpdatesEnabled(true);
}

void LobbyForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!unloading_)
        emit closeRequested();
}

bool LobbyForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        for (int i = 0; i < 2; ++i)
            if (watched == Tabs_[i])
                emit tabsClicked(i);
        for (int i = 0; i < 3; ++i)
            if (watched == HutCount_[i])
                emit hutCountClicked(i);
    } else if (event->type() == QEvent::MouseButtonPress && watched == TxChat_->viewport()) {
        emit txChatClicked();
    } else if (event->type() == QEvent::KeyPress && watched == TxOut_) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            emit txOutKeyPressed(13);
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace stonecall
