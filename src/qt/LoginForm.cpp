#include "qt/LoginForm.h"

#include "qt/Accessibility.h"
#include "qt/Charset.h"
#include "qt/Picture.h"
#include "qt/PictureButton.h"
#include "qt/Twips.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <limits>

namespace stonecall {

LoginForm::LoginForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    installAccessibility();
    setObjectName("LoginForm");
    setWindowTitle(QStringLiteral("Login"));
    setFixedSize(twipsRect(this, 0, 0, 4620, 7080).size());
    // The background of text areas (white in the default palettes), not the grey face of
    // dialogs; as a role it follows a change of the platform's colours by itself. A window
    // paints its role only when it fills its background itself.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    // Created top to bottom; only the user-name box takes the focus.
    image1_ = new Picture("Image1", QStringLiteral(":/art/banner.svg"), QStringLiteral("Stonecall"),
                          true, this);
    placeTwips(image1_, 45, 0, 4560, 4905);

    statsProg_ = new QProgressBar(this);
    statsProg_->setObjectName("StatsProg");
    statsProg_->setFocusPolicy(Qt::NoFocus);
    statsProg_->setRange(0, 3);
    statsProg_->setValue(0);
    statsProg_->setTextVisible(false);
    statsProg_->setAccessibleName(QStringLiteral("Log-in progress"));
    placeTwips(statsProg_, 720, 5040, 3135, 255);

    lblError_ = new QLabel(this);
    lblError_->setObjectName("lblError");
    // Status texts may carry what the network or the user gave; markup in them is text.
    lblError_->setTextFormat(Qt::PlainText);
    placeTwips(lblError_, 720, 5400, 3135, 255);

    label1_ = new QLabel(QStringLiteral("Username:"), this);
    label1_->setObjectName("Label1");
    label1_->setTextFormat(Qt::PlainText);
    label1_->setAlignment(Qt::AlignCenter);
    placeTwips(label1_, 1080, 5760, 2415, 255);

    usrName_ = new QLineEdit(this);
    usrName_->setObjectName("usrName");
    usrName_->setAccessibleName(QStringLiteral("Username"));
    // No length limit: Qt's default cap would cut a long name without a sign.
    usrName_->setMaxLength(std::numeric_limits<int>::max());
    label1_->setBuddy(usrName_);
    placeTwips(usrName_, 840, 6000, 2655, 285);

    cmdLogin_ =
        new PictureButton("cmdLogin", QStringLiteral(":/art/login.svg"), QStringLiteral("Login"),
                          QStringLiteral("Log in to the lobby"), this);
    placeTwips(cmdLogin_, 1560, 6360, 1305, 435);
    connect(cmdLogin_, &PictureButton::clicked, this, &LoginForm::cmdLoginClicked);

    // There is no default button: Enter in the user-name box is not connected to anything.
    usrName_->setFocus();
    centreOnScreen();
}

void LoginForm::centreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The whole window, frame included, is centred; the frame is known once the window exists.
    const QMargins frameMargins = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    QRect frame(QPoint(0, 0), size().grownBy(frameMargins));
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void LoginForm::showEvent(QShowEvent* event)
{
    if (!placed_) {
        placed_ = true;
        centreOnScreen();
    }
    QWidget::showEvent(event);
}

void LoginForm::unload()
{
    unloading_ = true;
    close();
}

std::string LoginForm::usrNameText() const
{
    return fromQString(usrName_->text());
}

void LoginForm::setStatusText(const std::string& text)
{
    // The line is narrow: a text it cannot show whole ends in "…", and the whole of it stays
    // within reach.
    status_ = text;
    const QString status = toQString(text);
    lblError_->setText(lblError_->fontMetrics().elidedText(status, Qt::ElideRight,
                                                           lblError_->contentsRect().width()));
    // A tooltip guesses at markup; this one is always text.
    lblError_->setToolTip(Qt::convertFromPlainText(status, Qt::WhiteSpaceNoWrap));
    lblError_->setAccessibleDescription(status);
}

std::string LoginForm::statusText() const
{
    return status_;
}

void LoginForm::setProgress(int value)
{
    statsProg_->setValue(value);
}

int LoginForm::progress() const
{
    return statsProg_->value();
}

void LoginForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!unloading_)
        emit closeRequested();
}

} // namespace stonecall
