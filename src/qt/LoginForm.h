#pragma once

#include "platform/LoginWindow.h"
#include "qt/Picture.h"
#include "qt/PictureButton.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QWidget>

#include <string>

namespace stonecall {

// The startup window: banner, progress, status line, user name and the login picture.
class LoginForm final : public QWidget, public LoginWindow {
    Q_OBJECT
public:
    explicit LoginForm(QWidget* parent = nullptr);

    void setVisible(bool visible) override { QWidget::setVisible(visible); }
    bool isVisible() const override { return QWidget::isVisible(); }
    void unload() override;
    std::string usrNameText() const override;
    void setStatusText(const std::string& text) override;
    std::string statusText() const override;
    void setProgress(int value) override;
    int progress() const override;

    QLineEdit* usrName() const { return usrName_; }
    PictureButton* cmdLogin() const { return cmdLogin_; }
    QLabel* lblError() const { return lblError_; }
    QProgressBar* StatsProg() const { return statsProg_; }
    Picture* Image1() const { return image1_; }
    QLabel* Label1() const { return label1_; }

signals:
    void cmdLoginClicked();
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void centreOnScreen();

    Picture* image1_;
    QProgressBar* statsProg_;
    QLabel* lblError_;
    QLabel* label1_;
    QLineEdit* usrName_;
    PictureButton* cmdLogin_;
    std::string status_; // the whole status text, of which the label may show a part
    bool unloading_ = false;
    bool placed_ = false;
};

} // namespace stonecall
