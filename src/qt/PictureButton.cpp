#include "qt/PictureButton.h"

#include <QMouseEvent>
#include <QPainter>

namespace stonecall {

PictureButton::PictureButton(const QString& objectName, const QString& picture, const QString& name,
                             const QString& tip, QWidget* parent)
    : QAbstractButton(parent), picture_(picture), renderer_(picture)
{
    setObjectName(objectName);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(name);
    setToolTip(tip);
    setAttribute(Qt::WA_Hover);
}

QSize PictureButton::sizeHint() const
{
    return renderer_.defaultSize();
}

QImage PictureButton::render(Look look, qreal ratio)
{
    QImage image((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer_.render(&painter, QRectF(rect()));
    // Tint only where the art is, so rounded corners stay see-through.
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    if (look == Look::Down)
        painter.fillRect(rect(), QColor(0, 0, 0, 70));
    else if (look == Look::Hover)
        painter.fillRect(rect(), QColor(255, 190, 110, 40));
    return image;
}

void PictureButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt hands the second press of a double-click over as this event alone; a button would
    // take it for a press, and its release for a second click. The press is accepted so that
    // it reaches nothing behind the picture either.
    event->accept();
}

void PictureButton::paintEvent(QPaintEvent* /*event*/)
{
    const Look look = isDown() ? Look::Down : underMouse() ? Look::Hover : Look::Normal;
    const qreal ratio = devicePixelRatioF();
    if (cached_.isNull() || cachedLook_ != look || cached_.devicePixelRatio() != ratio ||
        cached_.deviceIndependentSize().toSize() != size()) {
        cached_ = render(look, ratio);
        cachedLook_ = look;
    }
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), cached_);
}

} // namespace stonecall
