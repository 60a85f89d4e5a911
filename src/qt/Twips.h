#pragma once
// Layout sizes are kept in twips (1440 to the inch) and turned into pixels for the screen's
// logical DPI: 15 twips make a pixel at 96 DPI.

#include <QRect>
#include <QWidget>
#include <cmath>

namespace stonecall {

inline int twipsToPixels(int twips, qreal dpi)
{
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

inline QRect twipsRect(const QWidget* widget, int left, int top, int width, int height)
{
    const qreal dpi = widget->logicalDpiX();
    return QRect(twipsToPixels(left, dpi), twipsToPixels(top, dpi), twipsToPixels(width, dpi),
                 twipsToPixels(height, dpi));
}

inline void placeTwips(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsRect(widget, left, top, width, height));
}

} // namespace stonecall
