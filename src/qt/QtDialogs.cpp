#include "qt/QtDialogs.h"

#include "app/Version.h"
#include "qt/Charset.h"

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QWidget>

#include <limits>

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
    // The text may come from the game link or the user: markup in it is shown, not obeyed.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::string QtDialogs::InputBox(const std::string& prompt, const std::string& title)
{
    QInputDialog dialog(visibleOrNull(parent_));
    dialog.setObjectName("InputBox");
    dialog.setWindowTitle(toQString(title));
    // The prompt is text: the dialog's label would guess at markup in it, and as the label of
    // the text field it would take an "&" for the mark of a shortcut key.
    dialog.setLabelText(toQString(prompt).replace(QLatin1Char('&'), QStringLiteral("&&")));
    for (QLabel* label : dialog.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    dialog.setTextValue(QString());
    // Like every text box of the program, the answer has no length limit.
    for (QLineEdit* field : dialog.findChildren<QLineEdit*>())
        field->setMaxLength(std::numeric_limits<int>::max());
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return fromQString(dialog.textValue());
}

} // namespace stonecall
