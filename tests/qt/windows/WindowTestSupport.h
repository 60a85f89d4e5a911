#pragma once
// Helpers for window tests: what a user sees at a place, and rendered pictures of widgets.

#include <QImage>
#include <QRect>
#include <QString>
#include <QTest>
#include <QWidget>

namespace stonecall::testing {

// One row of a layout table, in pixels at 96 DPI, relative to the control's parent.
struct Placement {
    QString name;
    QRect geometry;
};

// True when `control` (or one of its children) is what the window shows at `point` of the
// control, i.e. it is not covered there by a sibling and can be clicked.
inline bool seenAt(const QWidget* control, QPoint point)
{
    const QWidget* window = control->window();
    const QWidget* hit = window->childAt(control->mapTo(window, point));
    return hit && (hit == control || control->isAncestorOf(hit));
}

inline bool seen(const QWidget* control)
{
    return seenAt(control, control->rect().center());
}

inline QImage picture(QWidget* widget)
{
    return widget->grab().toImage();
}

// Clicks a control like a user and moves the mouse away again, so that no hover look stays.
inline void click(QWidget* control)
{
    QTest::mouseClick(control, Qt::LeftButton);
    QTest::mouseMove(control->window(), QPoint(control->window()->width() - 2, 2));
}

} // namespace stonecall::testing
