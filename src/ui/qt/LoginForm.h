#pragma once

#include "ui/LoginWindow.h"

#include <QWidget>

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace stonecall {

// The startup window: user name, login button, progress and status line.
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
    QWidget* cmdLogin() const { return cmdLogin_; }
    QLabel* lblError() const { return lblError_; }
    QProgressBar* StatsProg() const { return statsProg_; }

signals:
    void cmdLoginClicked();
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* image1_;
    QProgressBar* statsProg_;
    QLabel* lblError_;
    QLabel* label1_;
    QLineEdit* usrName_;
    QPushButton* cmdLogin_;
    bool unloading_ = false;
};

} // namespace stonecall
