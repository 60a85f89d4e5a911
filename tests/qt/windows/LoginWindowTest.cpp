// The login window's layout and its state when the program starts.

#include "WindowTestSupport.h"
#include "qt/LoginForm.h"
#include "qt/Twips.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

class LoginWindow : public ::testing::Test {
protected:
    LoginWindow()
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    LoginForm form;
};

TEST(Twips, ScaleWithTheLogicalDpi)
{
    EXPECT_EQ(twipsToPixels(1080, 96), 72);
    EXPECT_EQ(twipsToPixels(190, 96), 13); // 12.67 rounds to the nearest pixel
    EXPECT_EQ(twipsToPixels(1080, 144), 108);
    EXPECT_EQ(twipsToPixels(945, 120), 79);
}

TEST_F(LoginWindow, ControlsSitWhereTheLayoutPutsThem)
{
    ASSERT_EQ(form.logicalDpiX(), 96) << "the expected pixels are for 96 DPI";
    EXPECT_EQ(form.size(), QSize(308, 472));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the border is fixed";
    const Placement table[] = {
        {"Image1", {3, 0, 304, 327}},     {"StatsProg", {48, 336, 209, 17}},
        {"lblError", {48, 360, 209, 17}}, {"Label1", {72, 384, 161, 17}},
        {"usrName", {56, 400, 177, 19}},  {"cmdLogin", {104, 424, 87, 29}},
    };
    for (const Placement& row : table) {
        const auto* control = form.findChild<QWidget*>(row.name);
        ASSERT_TRUE(control) << row.name.toStdString();
        EXPECT_EQ(control->geometry(), row.geometry) << row.name.toStdString();
        EXPECT_EQ(control->parentWidget(), &form) << row.name.toStdString();
    }
}

TEST_F(LoginWindow, HasACloseButtonOnlyAndOpensCentred)
{
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.windowTitle(), "Login");
    const QPoint centre = QApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((form.frameGeometry().center() - centre).manhattanLength(), 1);
}

TEST_F(LoginWindow, StartsEmptyWithTheFocusInTheUserName)
{
    EXPECT_EQ(form.statusText(), "");
    EXPECT_EQ(form.progress(), 0);
    EXPECT_EQ(form.StatsProg()->minimum(), 0);
    EXPECT_EQ(form.StatsProg()->maximum(), 3);
    EXPECT_EQ(form.usrNameText(), "");
    EXPECT_EQ(form.Label1()->text(), "Username:");
    EXPECT_TRUE(form.Label1()->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(form.focusWidget(), form.usrName());
    // No other control can take the focus: pictures, labels and the bar are skipped.
    for (QWidget* child : form.findChildren<QWidget*>()) {
        if (child != form.usrName()) {
            EXPECT_EQ(child->focusPolicy(), Qt::NoFocus) << child->objectName().toStdString();
        }
    }
}

TEST_F(LoginWindow, EnterInTheUserNameDoesNothing)
{
    QSignalSpy login(&form, &LoginForm::cmdLoginClicked);
    form.usrName()->setFocus();
    QTest::keyClicks(form.usrName(), "Ann");
    QTest::keyClick(form.usrName(), Qt::Key_Return);
    QTest::keyClick(form.usrName(), Qt::Key_Enter);
    EXPECT_EQ(login.count(), 0);
    EXPECT_EQ(form.usrName()->text(), "Ann");
    EXPECT_TRUE(form.isVisible());
}

TEST_F(LoginWindow, TheLoginPictureIsAClickOnlyButton)
{
    QSignalSpy login(&form, &LoginForm::cmdLoginClicked);
    QTest::mouseClick(form.cmdLogin(), Qt::LeftButton);
    EXPECT_EQ(login.count(), 1);
    QTest::mouseDClick(form.cmdLogin(), Qt::LeftButton);
    EXPECT_EQ(login.count(), 2) << "the second press of a double-click is no click";
    QTest::mouseClick(form.cmdLogin(), Qt::RightButton);
    EXPECT_EQ(login.count(), 2);
    EXPECT_EQ(form.focusWidget(), form.usrName())
        << "a click on a picture leaves the focus where it was";
    EXPECT_EQ(form.cmdLogin()->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form.cmdLogin()->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(form.cmdLogin()->accessibleName(), "Login");
    EXPECT_FALSE(form.cmdLogin()->toolTip().isEmpty());
}

TEST_F(LoginWindow, PicturesHaveTheirPixelSizes)
{
    EXPECT_EQ(QSvgRenderer(form.Image1()->picturePath()).defaultSize(), QSize(302, 325));
    EXPECT_EQ(QSvgRenderer(form.cmdLogin()->picturePath()).defaultSize(), QSize(87, 29));
    // The banner fills the inside of its one-pixel border with the art, not the background.
    const QImage banner = picture(form.Image1());
    const QColor background = form.palette().color(QPalette::Window);
    EXPECT_NE(banner.pixelColor(151, 40), background);
    EXPECT_NE(banner.pixelColor(151, 300), background);
}

TEST_F(LoginWindow, UsesTheBackgroundOfTextAreasAndFollowsItsChange)
{
    const QPalette before = QApplication::palette();
    ASSERT_NE(before.color(QPalette::Base), before.color(QPalette::Window))
        << "the test tells a text area's background from a dialog's face";
    EXPECT_EQ(picture(&form).pixelColor(2, 460), before.color(QPalette::Base));
    QPalette changed = before;
    changed.setColor(QPalette::Base, QColor(10, 80, 30));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    const QColor shown = picture(&form).pixelColor(2, 460);
    QApplication::setPalette(before);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, QColor(10, 80, 30));
}

} // namespace
