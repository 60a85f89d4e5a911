#include "qt/QtDialogs.h"

#include "app/Version.h"
#include "qt/Charset.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QWidget>

namespace stonecall {

namespace {
QWidget* visibleOrNull(QWidget* widget)
{
    return widget && widget->isVisible() ? widget : nullptr;
}
} // namespace

void QtDialogs::MsgBox(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(AppTitle), toQString(text),
                    QMessageBox::Ok, visibleOrNull(parent_));
    box.setObjectName("MsgBox");
    box.exec();
}

std::string QtDialogs::InputBox(const std::string& prompt, const std::string& title)
{
    QInputDialog dialog(visibleOrNull(parent_));
    dialog.setObjectName("InputBox");
    dialog.setWindowTitle(toQString(title));
    dialog.setLabelText(toQString(prompt));
    dialog.setTextValue(QString());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return fromQString(dialog.textValue());
}

} // namespace stonecall
