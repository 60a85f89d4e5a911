#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QSvgRenderer>

namespace stonecall {

// A picture that acts as a button: it reacts to mouse clicks only (a left press and release on
// the picture), never takes the keyboard focus and has no default role. The picture is vector
// art, drawn at the screen's pixel ratio so that it stays sharp at any DPI.
class PictureButton final : public QAbstractButton {
    Q_OBJECT
public:
    // `picture` is a resource path; `name` is read out by screen readers, `tip` shown on hover.
    PictureButton(const QString& objectName, const QString& picture, const QString& name,
                  const QString& tip, QWidget* parent);

    QSize sizeHint() const override;
    QString picturePath() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // The second press of a double-click is no second click.
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    enum class Look { Normal, Hover, Down };
    QImage render(Look look, qreal ratio);

    QString picture_;
    QSvgRenderer renderer_;
    // The last rendered image; the art changes only with size, pixel ratio and look.
    QImage cached_;
    Look cachedLook_ = Look::Normal;
};

} // namespace stonecall
