// The hut buttons through one whole hosting cycle: the local user's clicks go out through the
// client's socket, and the server's state reports bring the buttons back.

#include "ClientFixture.h"
#include "WireMessages.h"

using namespace stonecall;
using namespace stonecall::testing;
using Messages = std::vector<std::string>;

namespace {

using test::S;

class HostingRoundTrip : public ClientFixture {
protected:
    HostingRoundTrip()
    {
        connect();
        receive("LOGIN" + S + "1");
        receive("USER" + S + "1" + S + "Me" + S + "x");
        receive("USER" + S + "2" + S + "Bo" + S + "x");
        receive("ENDUSERS");
        ws.takeSent();
    }

    void expectButtons(bool create, bool exit, bool launch)
    {
        EXPECT_EQ(lobby.create, create);
        EXPECT_EQ(lobby.exit, exit);
        EXPECT_EQ(lobby.launch, launch);
    }
};

TEST_F(HostingRoundTrip, OnlyTheLocalUsersOwnIdleReportBringsCreateBack)
{
    client.cmdCreate_Click();
    ASSERT_TRUE(lobby.menuGame);
    client.HutCount_Click(1);
    EXPECT_EQ(ws.takeSent(), Messages{"BEHOST" + S + "3" + S + "NONE"});
    expectButtons(false, true, false);

    receive("USERSTATE" + S + "1" + S + "HOST" + S + "3" + S + "NONE");
    expectButtons(false, true, true);

    receive("USERSTATE" + S + "2" + S + "IDLE");
    expectButtons(false, true, true);

    client.cmdLaunch_Click();
    EXPECT_EQ(dialogs.shown, Messages{"Wait for next version :o"});
    client.cmdExit_Click();
    EXPECT_EQ(ws.takeSent(), Messages{"BEIDLE"});
    expectButtons(false, true, true); // nothing changes until the server says so

    receive("USERSTATE" + S + "1" + S + "IDLE");
    expectButtons(true, false, false);
    EXPECT_FALSE(lobby.menuGame);
    EXPECT_TRUE(ws.takeSent().empty());
}

} // namespace
