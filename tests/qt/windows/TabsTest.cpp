// Switching the lobby's panels with the two tabs, in the assembled client.

#include "WindowTestSupport.h"
#include "qt/ClientApp.h"
#include "qt/QtTreeView.h"

#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

class Tabs : public ::testing::Test {
protected:
    Tabs()
    {
        app.start();
        lobby.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&lobby));
    }

    // Something in every control of the main panel, as the server's messages would put there.
    static void fill(LobbyForm& form)
    {
        form.appendToChat("Ann: hello\r\n");
        form.lstHuts().add("", "h1", "Ann's hut");
        form.LstUSers().add("", "w", "Waiting: 1");
        form.LstUSers().add("w", "u1", "Ann");
        form.setOutText("typed");
        form.setLaunchVisible(true);
        // What the end of the frame shows, before any picture is taken.
        form.lstHutsView().settle();
        form.LstUSersView().settle();
    }

    bool mainPanelSeen() const
    {
        for (QWidget* control :
             {static_cast<QWidget*>(lobby.TxChat()),
              static_cast<QWidget*>(lobby.lstHutsView().view()),
              static_cast<QWidget*>(lobby.LstUSersView().view()),
              static_cast<QWidget*>(lobby.TxOut()), static_cast<QWidget*>(lobby.cmdCreate()),
              static_cast<QWidget*>(lobby.cmdLogout())})
            if (!seen(control))
                return false;
        return true;
    }

    ClientApp app;
    LobbyForm& lobby = app.lobbyForm();
};

TEST_F(Tabs, TabOneShowsTheEmptyOptionsPanelAndTabZeroBringsTheMainPanelBackUnchanged)
{
    fill(lobby);
    lobby.setMenuGameVisible(true);
    lobby.raiseMenuGame();
    const QImage before = picture(lobby.FraMain());
    ASSERT_TRUE(mainPanelSeen());

    click(lobby.Tabs(1));
    EXPECT_TRUE(seen(lobby.FraOptions()));
    EXPECT_TRUE(lobby.FraOptions()->children().isEmpty());
    for (QWidget* control :
         {static_cast<QWidget*>(lobby.TxChat()), static_cast<QWidget*>(lobby.lstHutsView().view()),
          static_cast<QWidget*>(lobby.LstUSersView().view()), static_cast<QWidget*>(lobby.TxOut()),
          static_cast<QWidget*>(lobby.cmdCreate()), static_cast<QWidget*>(lobby.cmdLaunch()),
          static_cast<QWidget*>(lobby.cmdLogout()), static_cast<QWidget*>(lobby.MenuGame())})
        EXPECT_FALSE(seen(control)) << control->objectName().toStdString();
    EXPECT_TRUE(seenAt(lobby.Tabs(1), {14, 22})) << "tab 1 covers the line";
    EXPECT_TRUE(seenAt(lobby.Tabs(1), {2, 13})) << "and the right edge of tab 0";
    // Nothing was hidden: the switch is by stacking alone.
    EXPECT_FALSE(lobby.FraMain()->isHidden());
    EXPECT_FALSE(lobby.MenuGame()->isHidden());

    click(lobby.Tabs(0));
    EXPECT_TRUE(mainPanelSeen());
    EXPECT_TRUE(seen(lobby.MenuGame())) << "the pop-up keeps its state";
    EXPECT_TRUE(seenAt(lobby.Tabs(0), {70, 13}));
    EXPECT_TRUE(seenAt(lobby.Line1(), {10, 0}));
    EXPECT_EQ(picture(lobby.FraMain()), before);
    EXPECT_EQ(lobby.chatText(), "Ann: hello\r\n");
    EXPECT_EQ(lobby.outText(), "typed");
}

TEST_F(Tabs, ClickingTheTabInFrontChangesNothing)
{
    fill(lobby);
    const QImage start = picture(&lobby);
    click(lobby.Tabs(0));
    EXPECT_EQ(picture(&lobby), start);

    click(lobby.Tabs(1));
    const QImage options = picture(&lobby);
    EXPECT_NE(options, start);
    click(lobby.Tabs(1));
    EXPECT_EQ(picture(&lobby), options);
}

TEST_F(Tabs, UpdatesBehindTheOptionsPanelShowWhenTabZeroIsClicked)
{
    // The same updates, once made with the main panel in front and once behind the options
    // panel, must look the same when the main panel is in front again.
    ClientApp reference;
    reference.start();
    reference.lobbyForm().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&reference.lobbyForm()));
    fill(reference.lobbyForm());

    click(lobby.Tabs(1));
    fill(lobby);
    EXPECT_FALSE(seen(lobby.TxChat()));
    click(lobby.Tabs(0));

    EXPECT_TRUE(mainPanelSeen());
    EXPECT_TRUE(seen(lobby.cmdLaunch()));
    EXPECT_EQ(lobby.chatText(), reference.lobbyForm().chatText());
    EXPECT_EQ(lobby.lstHuts().count(), reference.lobbyForm().lstHuts().count());
    EXPECT_EQ(picture(lobby.FraMain()), picture(reference.lobbyForm().FraMain()));
}

TEST_F(Tabs, OtherIndexesDoNothing)
{
    const QImage start = picture(&lobby);
    emit lobby.tabsClicked(2);
    emit lobby.tabsClicked(-1);
    EXPECT_EQ(picture(&lobby), start);
    EXPECT_TRUE(mainPanelSeen());
}

} // namespace
