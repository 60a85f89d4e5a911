// The create panel, the hut buttons and the hut list of the real lobby window, driven with
// mouse and key events, with real dialogs answered from a timer and a scripted lobby peer
// receiving what the client sends.

#include "ModalScript.h"
#include "ScriptedServer.h"
#include "WaitFor.h"
#include "qt/ClientApp.h"
#include "qt/QtTreeView.h"

#include <QTreeView>
#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;
using Shown = ModalScript::Shown;

namespace {

const std::string S = "\xA4";
const QString PasswordPrompt =
    QStringLiteral("A password is required to join this hut!\r\n\r\nGive password:");

class HutWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        app.start();
        app.client().ServerPort = server.port();
        app.loginForm().usrName()->setText("Me");
        QTest::mouseClick(app.loginForm().cmdLogin(), Qt::LeftButton);
        ASSERT_TRUE(server.waitForMessages(0, 1));
        server.sendMessage(0, "LOGIN" + S + "1");
        ASSERT_TRUE(server.waitForMessages(0, 2)); // GETUSERLIST
        ASSERT_TRUE(waitFor([&] { return lobby().isVisible(); }));
        Session& session = app.client().session();
        session.Users.growTo(12);
        session.Users.edit(1).Name = "Me";
    }

    LobbyForm& lobby() { return app.lobbyForm(); }
    QTreeView* hutView() { return qobject_cast<QTreeView*>(lobby().lstHutsView().widget()); }

    // A host and its hut in the table and, as the hut list shows it, in the tree.
    void addHut(int host, const std::string& password, int size, int memberInPlace1 = 0)
    {
        UserInfo& user = app.client().session().Users.edit(static_cast<std::size_t>(host));
        user.Name = "Host" + std::to_string(host);
        user.State = "HOST";
        user.HutSize = size;
        user.HutPassword = password;
        TreeView& tree = lobby().lstHuts();
        const std::string hut = "h" + std::to_string(host);
        tree.add("", hut, user.Name);
        tree.setExpanded(hut, true);
        for (int place = 1; place < size; ++place) {
            if (place == 1 && memberInPlace1) {
                tree.add(hut, "c" + std::to_string(memberInPlace1), "Member");
                continue;
            }
            const std::string key = "empty" + std::to_string(host) + "-" + std::to_string(place);
            tree.add(hut, key, "Empty");
            if (password != "NONE")
                tree.setTag(key, place);
        }
    }

    // The hut line with this text, or its place line in the given row.
    QModelIndex hutLine(const QString& text, int placeRow = -1)
    {
        lobby().lstHutsView().settle(); // what the end of the frame would show
        QAbstractItemModel* model = hutView()->model();
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex hut = model->index(row, 0);
            if (hut.data().toString() == text)
                return placeRow < 0 ? hut : model->index(placeRow, 0, hut);
        }
        return {};
    }

    void doubleClick(const QModelIndex& index)
    {
        ASSERT_TRUE(index.isValid());
        QTreeView* view = hutView();
        const QRect rect = view->visualRect(index);
        ASSERT_FALSE(rect.isEmpty()); // shown: its hut is expanded
        // What a mouse gives: the first click selects, the second press comes as a double-click.
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // Everything the client sent after logging in, once a closing BEIDLE has arrived, so
    // that a message that should not have gone out would be seen before it.
    Messages sentUpToExit()
    {
        const std::size_t before = server.messages(0).size();
        QTest::mouseClick(lobby().cmdExit(), Qt::LeftButton);
        EXPECT_TRUE(waitFor([&] {
            const Messages all = server.messages(0);
            return all.size() > before && all.back() == "BEIDLE";
        }));
        const Messages all = server.messages(0);
        return Messages(all.begin() + 2, all.end() - 1);
    }

    ScriptedServer server;
    ClientApp app;
};

TEST_F(HutWindows, CreatePanelHostsWithTheTypedPassword)
{
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    ASSERT_TRUE(lobby().MenuGame()->isVisible());
    EXPECT_EQ(lobby().FraMain()->children().last(), lobby().MenuGame());
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    EXPECT_FALSE(lobby().MenuGame()->isVisible());
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);

    QTest::keyClicks(lobby().TxPass(), "Caf");
    QTest::sendKeyEvent(QTest::Click, lobby().TxPass(), Qt::Key_Eacute, QStringLiteral("\u00E9"),
                        Qt::NoModifier);
    QTest::keyClicks(lobby().TxPass(), " Pw");
    QTest::mouseClick(lobby().HutCount(2), Qt::LeftButton);
    EXPECT_FALSE(lobby().MenuGame()->isVisible());
    EXPECT_FALSE(lobby().cmdCreate()->isVisible());
    EXPECT_TRUE(lobby().cmdExit()->isVisible());
    EXPECT_EQ(sentUpToExit(), Messages{"BEHOST" + S + "4" + S + "Caf\xE9 Pw"});
}

TEST_F(HutWindows, RefusedPasswordIsExplainedAndThePanelStaysOpen)
{
    ModalScript dialogs;
    dialogs.push(ModalScript::pressOk());
    QTest::mouseClick(lobby().cmdCreate(), Qt::LeftButton);
    lobby().TxPass()->setText(QStringLiteral("a\u00A4b"));
    QTest::mouseClick(lobby().HutCount(1), Qt::LeftButton);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].title, "Stonecall");
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith("This password cannot be used: "));
    EXPECT_TRUE(lobby().MenuGame()->isVisible());
    EXPECT_TRUE(lobby().cmdCreate()->isVisible());
    EXPECT_TRUE(sentUpToExit().empty());
}

TEST_F(HutWindows, LaunchShowsTheNoticeOnly)
{
    ModalScript dialogs;
    dialogs.push(ModalScript::pressOk());
    lobby().setLaunchVisible(true);
    QTest::mouseClick(lobby().cmdLaunch(), Qt::LeftButton);
    EXPECT_EQ(dialogs.shown(), (std::vector<Shown>{{"Stonecall", "Wait for next version :o"}}));
    EXPECT_TRUE(lobby().cmdLaunch()->isVisible());
    EXPECT_TRUE(sentUpToExit().empty());
}

TEST_F(HutWindows, DoubleClicksJoinAskingForThePasswordWhereThereIsOne)
{
    addHut(7, "Secret", 3, 2);
    addHut(8, "NONE", 2);
    ModalScript dialogs;
    dialogs.push(ModalScript::type("wrong"));
    dialogs.push(ModalScript::pressOk());
    dialogs.push(ModalScript::type("")); // Cancel
    dialogs.push(ModalScript::type("sECRET"));

    doubleClick(hutLine("Host7", 1)); // wrong answer
    doubleClick(hutLine("Host7", 1)); // cancelled
    doubleClick(hutLine("Host7", 1));
    doubleClick(hutLine("Host7", 0)); // a taken place
    doubleClick(hutLine("Host8", 0)); // open: no question
    const Shown box{"Join Hut: Password Needed", PasswordPrompt};
    EXPECT_EQ(dialogs.shown(),
              (std::vector<Shown>{box, {"Stonecall", "Wrong password!"}, box, box}));
    EXPECT_EQ(sentUpToExit(), (Messages{"BECLIENT" + S + "7" + S + "2", "BECLIENT" + S + "8" + S}));
}

TEST_F(HutWindows, DoubleClicksLeaveHutsExpanded)
{
    addHut(7, "NONE", 4, 2);
    addHut(1, "NONE", 2); // the local user's own hut
    ModalScript dialogs;
    const QModelIndex hut = hutLine("Host7");
    doubleClick(hut);
    EXPECT_TRUE(hutView()->isExpanded(hut));
    doubleClick(hutLine("Host7", 0));
    doubleClick(hutLine("Host1"));
    doubleClick(hutLine("Host1", 0));
    EXPECT_TRUE(hutView()->isExpanded(hut));
    EXPECT_TRUE(hutView()->isExpanded(hutLine("Host1")));
    EXPECT_TRUE(lobby().lstHuts().isExpanded("h7"));
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_TRUE(sentUpToExit().empty());
}

} // namespace
