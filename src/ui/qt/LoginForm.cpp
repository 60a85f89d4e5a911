#include "ui/qt/LoginForm.h"

#include "ui/qt/Charset.h"
#include "ui/qt/Twips.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace stonecall {

LoginForm::LoginForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      image1_(new QLabel(this)), statsProg_(new QProgressBar(this)), lblError_(new QLabel(this)),
      label1_(new QLabel(QStringLiteral("Username:"), this)), usrName_(new QLineEdit(this)),
      cmdLogin_(new QPushButton(QStringLiteral("Login"), this))
{
    setObjectName("LoginForm");
    setWindowTitle(QStringLiteral("Login"));
    setFixedSize(twipsRect(this, 0, 0, 4620, 7080).size());

    image1_->setObjectName("Image1");
    image1_->setText(QStringLiteral("Stonecall"));
    image1_->setAlignment(Qt::AlignCenter);
    image1_->setFrameShape(QFrame::Box);
    placeTwips(image1_, 45, 0, 4560, 4905);

    statsProg_->setObjectName("StatsProg");
    statsProg_->setRange(0, 3);
    statsProg_->setValue(0);
    statsProg_->setTextVisible(false);
    placeTwips(statsProg_, 720, 5040, 3135, 255);

    lblError_->setObjectName("lblError");
    placeTwips(lblError_, 720, 5400, 3135, 255);

    label1_->setObjectName("Label1");
    label1_->setAlignment(Qt::AlignCenter);
    placeTwips(label1_, 1080, 5760, 2415, 255);

    usrName_->setObjectName("usrName");
    placeTwips(usrName_, 840, 6000, 2655, 285);

    cmdLogin_->setObjectName("cmdLogin");
    cmdLogin_->setFocusPolicy(Qt::NoFocus);
    cmdLogin_->setAutoDefault(false);
    placeTwips(cmdLogin_, 1560, 6360, 1305, 435);
    connect(cmdLogin_, &QPushButton::clicked, this, &LoginForm::cmdLoginClicked);

    usrName_->setFocus();
}

void LoginForm::unload()
{
    unloading_ = true;
    close();
}

std::string LoginForm::usrNameText() const { return fromQString(usrName_->text()); }

void LoginForm::setStatusText(const std::string& text) { lblError_->setText(toQString(text)); }

std::string LoginForm::statusText() const { return fromQString(lblError_->text()); }

void LoginForm::setProgress(int value) { statsProg_->setValue(value); }

int LoginForm::progress() const { return statsProg_->value(); }

void LoginForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (!unloading_)
        emit closeRequested();
}

} // namespace stonecall
