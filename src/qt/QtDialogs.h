#pragma once

#include "platform/Dialogs.h"

class QWidget;

namespace stonecall {

// Message and input boxes over QMessageBox and QInputDialog, captioned "Stonecall".
class QtDialogs final : public Dialogs {
public:
    // Dialogs are centred on the parent's window when it is shown.
    void setParent(QWidget* parent) { parent_ = parent; }

    void MsgBox(const std::string& text) override;
    std::string InputBox(const std::string& prompt, const std::string& title) override;

private:
    QWidget* parent_ = nullptr;
};

} // namespace stonecall
