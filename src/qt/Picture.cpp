#include "qt/Picture.h"

#include <QPainter>

namespace stonecall {

Picture::Picture(const QString& objectName, const QString& picture, const QString& name,
                 bool border, QWidget* parent)
    : QWidget(parent), picture_(picture), renderer_(picture), border_(border)
{
    setObjectName(objectName);
    setAccessibleName(name);
}

void Picture::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect art = border_ ? rect().adjusted(1, 1, -1, -1) : rect();
    renderer_.render(&painter, QRectF(art));
    if (border_) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

} // namespace stonecall
