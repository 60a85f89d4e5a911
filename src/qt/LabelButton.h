#pragma once

#include <QLabel>

namespace stonecall {

// A label that acts as a button: the window decides what a mouse click on it is, and
// assistive technology sees a button named by the label's text whose press is that click.
// It takes no focus and keeps a label's look.
class LabelButton final : public QLabel {
    Q_OBJECT
public:
    LabelButton(const QString& objectName, const QString& text, QWidget* parent);

    // One click on the label, as the mouse or a screen reader's press gives it.
    void click() { emit clicked(); }

signals:
    void clicked();
};

} // namespace stonecall
