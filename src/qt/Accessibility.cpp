#include "qt/Accessibility.h"

#include "qt/LabelButton.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLatin1StringView>

namespace stonecall {

namespace {

// Press is the label's click, and only where the mouse could click it: a label in a hidden
// panel presses nothing.
class LabelButtonAccessible final : public QAccessibleWidget {
public:
    explicit LabelButtonAccessible(LabelButton* label)
        : QAccessibleWidget(label, QAccessible::Button)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return label()->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction() && label()->isVisible())
            label()->click();
    }
    QStringList keyBindingsForAction(const QString& /*action*/) const override { return {}; }

private:
    LabelButton* label() const { return static_cast<LabelButton*>(widget()); }
};

// A window can be brought to the front and given the keyboard, as a window manager would on a
// click in it, without moving the focus inside it.
class WindowAccessible final : public QAccessibleWidget {
public:
    explicit WindowAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    QStringList actionNames() const override { return {setFocusAction()}; }
    void doAction(const QString& action) override
    {
        if (action == setFocusAction() && widget()->isVisible())
            widget()->activateWindow();
    }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    if (className == QLatin1StringView("stonecall::LabelButton"))
        return new LabelButtonAccessible(static_cast<LabelButton*>(widget));
    if (className == QLatin1StringView("stonecall::LoginForm") ||
        className == QLatin1StringView("stonecall::LobbyForm"))
        return new WindowAccessible(widget);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    (void)installed;
}

} // namespace stonecall
