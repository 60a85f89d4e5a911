// Tabs_Click in the core: which controls it brings to the front, in which order.

#include "FakeSocket.h"
#include "FakeWindows.h"
#include "app/Client.h"

#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;
using Raised = std::vector<std::string>;

namespace {

class TabsClick : public ::testing::Test {
protected:
    TabsClick() : client(Platform{login, lobby, ws, vlan, dialogs, app})
    {
        client.LoginForm_Load();
    }

    Raised clickTab(int index)
    {
        lobby.raised.clear();
        client.Tabs_Click(index);
        return lobby.raised;
    }

    FakeLoginWindow login;
    FakeLobbyWindow lobby;
    FakeSocket ws;
    FakeSocket vlan;
    FakeDialogs dialogs;
    FakeApplication app;
    Client client;
};

TEST_F(TabsClick, RaisesTheTabThenItsPanel)
{
    EXPECT_EQ(clickTab(0), (Raised{"Tabs0", "FraMain", "Line1"}));
    EXPECT_EQ(clickTab(1), (Raised{"Tabs1", "FraOptions"}));
    EXPECT_EQ(clickTab(1), (Raised{"Tabs1", "FraOptions"}));
}

TEST_F(TabsClick, OtherIndexesAndNothingElseChange)
{
    for (int index : {-1, 2, 32767})
        EXPECT_EQ(clickTab(index), Raised{}) << index;
    const auto flags = [&] {
        return std::vector<bool>{lobby.launch, lobby.exit, lobby.create, lobby.menuGame};
    };
    const auto before = flags();
    client.Tabs_Click(0);
    client.Tabs_Click(1);
    EXPECT_EQ(flags(), before) << "the switch shows and hides nothing";
    EXPECT_TRUE(ws.takeSent().empty());
}

} // namespace
