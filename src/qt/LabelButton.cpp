#include "qt/LabelButton.h"

#include "qt/Accessibility.h"

namespace stonecall {

LabelButton::LabelButton(const QString& objectName, const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    installAccessibility();
    setObjectName(objectName);
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
}

} // namespace stonecall
