#pragma once

#include <QSvgRenderer>
#include <QWidget>

namespace stonecall {

// A still picture drawn from vector art, optionally inside a one-pixel border.
class Picture final : public QWidget {
    Q_OBJECT
public:
    Picture(const QString& objectName, const QString& picture, const QString& name, bool border,
            QWidget* parent);

    QString picturePath() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString picture_;
    QSvgRenderer renderer_;
    bool border_;
};

} // namespace stonecall
