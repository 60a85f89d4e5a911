// The lobby window's layout, colours, focus order and its state when it is first shown.

#include "WindowTestSupport.h"
#include "qt/LobbyForm.h"
#include "qt/QtTreeView.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

class LobbyWindow : public ::testing::Test {
protected:
    LobbyWindow()
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    LobbyForm form;
};

TEST_F(LobbyWindow, ControlsSitWhereTheLayoutPutsThem)
{
    ASSERT_EQ(form.logicalDpiX(), 96) << "the expected pixels are for 96 DPI";
    EXPECT_EQ(form.size(), QSize(839, 649));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "the border is fixed";
    struct Row {
        Placement placement;
        QString parent;
    };
    const Row table[] = {
        {{"Tabs0", {8, 13, 72, 27}}, "LobbyForm"},
        {{"Tabs1", {76, 13, 72, 27}}, "LobbyForm"},
        {{"Line1", {80, 35, 760, 1}}, "LobbyForm"},
        {{"FraMain", {8, 40, 825, 601}}, "LobbyForm"},
        {{"FraOptions", {8, 40, 825, 601}}, "LobbyForm"},
        {{"lstHuts", {8, 8, 129, 553}}, "FraMain"},
        {{"TxChat", {144, 8, 537, 553}}, "FraMain"},
        {{"LstUSers", {688, 8, 129, 553}}, "FraMain"},
        {{"TxOut", {144, 568, 537, 19}}, "FraMain"},
        {{"cmdCreate", {8, 568, 63, 22}}, "FraMain"},
        {{"cmdExit", {8, 568, 63, 22}}, "FraMain"},
        {{"cmdLaunch", {72, 568, 63, 22}}, "FraMain"},
        {{"cmdLogout", {752, 568, 63, 22}}, "FraMain"},
        {{"MenuGame", {8, 447, 89, 121}}, "FraMain"},
        {{"Label1", {8, 8, 65, 17}}, "MenuGame"},
        {{"TxPass", {8, 24, 73, 19}}, "MenuGame"},
        {{"HutCount2", {8, 48, 65, 17}}, "MenuGame"},
        {{"HutCount1", {8, 72, 65, 17}}, "MenuGame"},
        {{"HutCount0", {8, 96, 65, 17}}, "MenuGame"},
    };
    for (const Row& row : table) {
        const std::string name = row.placement.name.toStdString();
        const auto* control = form.findChild<QWidget*>(row.placement.name);
        ASSERT_TRUE(control) << name;
        EXPECT_EQ(control->geometry(), row.placement.geometry) << name;
        EXPECT_EQ(control->parentWidget()->objectName(), row.parent) << name;
    }
}

TEST_F(LobbyWindow, CanBeMinimizedButNotMaximized)
{
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    // Placed by the platform, unlike the login window, which centres itself.
    EXPECT_FALSE(form.testAttribute(Qt::WA_Moved));
}

TEST_F(LobbyWindow, StartsWithTheMainPanelTabZeroAndTheCreateButtonInFront)
{
    EXPECT_TRUE(seen(form.FraMain()));
    EXPECT_FALSE(seen(form.FraOptions()));
    for (QWidget* control :
         {static_cast<QWidget*>(form.TxChat()), static_cast<QWidget*>(form.lstHutsView().view()),
          static_cast<QWidget*>(form.LstUSersView().view()), static_cast<QWidget*>(form.TxOut()),
          static_cast<QWidget*>(form.cmdCreate()), static_cast<QWidget*>(form.cmdLogout())})
        EXPECT_TRUE(seen(control)) << control->objectName().toStdString();
    EXPECT_FALSE(seen(form.cmdExit())) << "cmdExit lies under cmdCreate";
    EXPECT_FALSE(form.cmdExit()->isHidden()) << "but its visible flag is on";
    EXPECT_TRUE(form.cmdLaunch()->isHidden());
    EXPECT_TRUE(form.MenuGame()->isHidden());
    EXPECT_TRUE(seenAt(form.Tabs(0), {70, 13})) << "tab 0 covers the left edge of tab 1";
    EXPECT_FALSE(seenAt(form.Tabs(1), {2, 13}));
    EXPECT_TRUE(seenAt(form.Line1(), {10, 0})) << "the line crosses the lower part of tab 1";
    EXPECT_FALSE(seenAt(form.Tabs(1), {14, 22}));
    EXPECT_TRUE(seen(form.Tabs(1)));

    EXPECT_EQ(form.chatText(), "");
    EXPECT_EQ(form.outText(), "");
    EXPECT_EQ(form.passText(), "");
    EXPECT_EQ(form.lstHuts().count(), 0u);
    EXPECT_EQ(form.LstUSers().count(), 0u);
    EXPECT_EQ(form.HutCount(0)->text(), "2 Players");
    EXPECT_EQ(form.HutCount(1)->text(), "3 Players");
    EXPECT_EQ(form.HutCount(2)->text(), "4 Players");
    EXPECT_EQ(form.Label1()->text(), "Password:");
}

TEST_F(LobbyWindow, ShownCreatePanelCoversTheLowerHutList)
{
    form.setMenuGameVisible(true);
    form.raiseMenuGame();
    QWidget* huts = form.lstHutsView().view();
    EXPECT_TRUE(seen(form.MenuGame()));
    EXPECT_FALSE(seenAt(huts, {20, 500}));
    EXPECT_TRUE(seenAt(huts, {20, 100}));
    EXPECT_TRUE(seen(form.cmdCreate())) << "the pop-up ends just above the create button";
    EXPECT_TRUE(seen(form.TxPass()));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(seen(form.HutCount(i)));
}

TEST_F(LobbyWindow, TabAndShiftTabGoRoundTheFocusOrder)
{
    EXPECT_EQ(form.focusWidget(), form.FraMain());
    // Where the focus goes after each press of a key, as the window receives it.
    const auto presses = [this](Qt::Key key, int count) {
        const Qt::KeyboardModifiers shift =
            key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier;
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            QTest::keyClick(form.windowHandle(), key, shift);
            names.push_back(form.focusWidget()->objectName().toStdString());
        }
        return names;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(presses(Qt::Key_Tab, 6),
              (Names{"TxChat", "lstHuts", "TxOut", "LstUSers", "FraOptions", "FraMain"}));
    form.setMenuGameVisible(true);
    EXPECT_EQ(presses(Qt::Key_Tab, 8), (Names{"TxChat", "lstHuts", "TxOut", "LstUSers",
                                              "FraOptions", "MenuGame", "TxPass", "FraMain"}));
    EXPECT_EQ(presses(Qt::Key_Backtab, 8), (Names{"TxPass", "MenuGame", "FraOptions", "LstUSers",
                                                  "TxOut", "lstHuts", "TxChat", "FraMain"}));
    EXPECT_EQ(form.chatText(), "") << "no tab went into the log";
}

TEST_F(LobbyWindow, ClicksOnPicturesAndLabelsLeaveTheFocusWhereItWas)
{
    form.setMenuGameVisible(true);
    form.setLaunchVisible(true);
    const auto type = [this](const char* keys) {
        for (; *keys; ++keys)
            QTest::keyClick(form.windowHandle(), *keys);
    };
    QTest::mouseClick(form.TxOut(), Qt::LeftButton);
    type("ab");
    for (QWidget* control :
         {static_cast<QWidget*>(form.cmdCreate()), static_cast<QWidget*>(form.cmdLaunch()),
          static_cast<QWidget*>(form.cmdLogout()), static_cast<QWidget*>(form.HutCount(0)),
          static_cast<QWidget*>(form.HutCount(1)), static_cast<QWidget*>(form.HutCount(2)),
          static_cast<QWidget*>(form.Label1()), static_cast<QWidget*>(form.Tabs(1))}) {
        QTest::mousePress(control, Qt::LeftButton);
        QTest::mouseRelease(control, Qt::LeftButton);
    }
    form.setCreateVisible(false);
    QTest::mouseClick(form.cmdExit(), Qt::LeftButton);
    type("cd");
    EXPECT_EQ(form.TxOut()->text(), "abcd");
}

TEST_F(LobbyWindow, PicturesAreClickOnlyButtonsWithNamesAndTheirSizes)
{
    struct Expect {
        PictureButton* button;
        QSize size;
        const char* signal;
    };
    const Expect buttons[] = {
        {form.cmdCreate(), {63, 22}, SIGNAL(cmdCreateClicked())},
        {form.cmdExit(), {63, 22}, SIGNAL(cmdExitClicked())},
        {form.cmdLaunch(), {63, 22}, SIGNAL(cmdLaunchClicked())},
        {form.cmdLogout(), {63, 22}, SIGNAL(cmdLogoutClicked())},
        {form.Tabs(0), {72, 27}, nullptr},
        {form.Tabs(1), {72, 27}, nullptr},
    };
    std::vector<QString> names;
    for (const Expect& e : buttons) {
        const std::string name = e.button->objectName().toStdString();
        EXPECT_EQ(QSvgRenderer(e.button->picturePath()).defaultSize(), e.size) << name;
        EXPECT_EQ(e.button->focusPolicy(), Qt::NoFocus) << name;
        EXPECT_EQ(e.button->cursor().shape(), Qt::PointingHandCursor) << name;
        EXPECT_FALSE(e.button->toolTip().isEmpty()) << name;
        EXPECT_FALSE(e.button->accessibleName().isEmpty()) << name;
        names.push_back(e.button->accessibleName());
        if (!e.signal)
            continue;
        e.button->show();
        e.button->raise();
        QSignalSpy spy(&form, e.signal);
        QTest::mouseClick(e.button, Qt::LeftButton);
        EXPECT_EQ(spy.count(), 1) << name;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end())
        << "every picture has a name of its own";
}

TEST_F(LobbyWindow, TabClicksCarryTheirIndex)
{
    QSignalSpy tabs(&form, &LobbyForm::tabsClicked);
    QTest::mouseClick(form.Tabs(1), Qt::LeftButton);
    QTest::mouseClick(form.Tabs(0), Qt::LeftButton);
    ASSERT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.at(0).at(0).toInt(), 1);
    EXPECT_EQ(tabs.at(1).at(0).toInt(), 0);
}

TEST_F(LobbyWindow, ColoursComeFromThePlatform)
{
    const QPalette system = QApplication::palette();
    ASSERT_NE(system.color(QPalette::Base), system.color(QPalette::Window))
        << "the test tells a text area's background from a button face";
    EXPECT_EQ(LobbyForm::captionTextColour(),
              system.color(QPalette::Active, QPalette::HighlightedText));
    const QImage shown = picture(&form);
    EXPECT_EQ(shown.pixelColor(2, 2), LobbyForm::captionTextColour())
        << "the window's own background";
    // The panels have the background and text colours of text areas.
    EXPECT_EQ(shown.pixelColor(400, 635), system.color(QPalette::Base)) << "the main panel";
    EXPECT_EQ(form.FraOptions()->palette().color(QPalette::Window), system.color(QPalette::Base));
    EXPECT_EQ(form.FraMain()->palette().color(QPalette::WindowText), system.color(QPalette::Text));
    form.setMenuGameVisible(true);
    EXPECT_EQ(picture(form.MenuGame()).pixelColor(4, 60), system.color(QPalette::Base))
        << "the create panel between its labels";
}

TEST_F(LobbyWindow, FollowsAChangeOfTheSystemColours)
{
    const QPalette before = QApplication::palette();
    QPalette changed = before;
    changed.setColor(QPalette::Base, QColor(10, 80, 30));
    changed.setColor(QPalette::HighlightedText, QColor(200, 200, 40));
    QApplication::setPalette(changed);
    QCoreApplication::processEvents();
    const QImage shown = picture(&form);
    QApplication::setPalette(before);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.pixelColor(2, 2), QColor(200, 200, 40));
    EXPECT_EQ(shown.pixelColor(400, 635), QColor(10, 80, 30));
}

} // namespace
