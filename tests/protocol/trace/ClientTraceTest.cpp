// The client reports each message it sends and receives to its wire log, in the order things
// happen on the wire.

#include "FakeSocket.h"
#include "FakeWindows.h"
#include "WireMessages.h"
#include "app/Client.h"
#include "platform/WireLog.h"

#include <gtest/gtest.h>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

using test::S;
const std::string E = "\x06";

struct RecordingWireLog final : WireLog {
    void sent(std::string_view message) override
    {
        lines.push_back("sent " + std::string(message));
    }
    void received(std::string_view message) override
    {
        lines.push_back("recv " + std::string(message));
    }
    std::vector<std::string> lines;
};

class ClientTrace : public ::testing::Test {
protected:
    ClientTrace() : client(Platform{login, lobby, ws, vlan, dialogs, app, &log})
    {
        client.LoginForm_Load();
        login.visible = true;
        login.usrName = "Old_Fox";
    }

    RecordingWireLog log;
    FakeLoginWindow login;
    FakeLobbyWindow lobby;
    FakeSocket ws;
    FakeSocket vlan;
    FakeDialogs dialogs;
    FakeApplication app;
    Client client;
};

} // namespace

TEST_F(ClientTrace, EachMessageInWireOrder)
{
    client.cmdLogin_Click();
    ws.raiseConnect();
    // Two replies in one arrival, an empty message between them, a partial one at the end.
    ws.deliver("VERSION" + S + "GOOD" + E + E + "PING" + E + "LOG");
    ws.deliver("IN" + S + "0" + E);

    const std::vector<std::string> expected = {
        "sent VERSION" + S + "1",
        "recv VERSION" + S + "GOOD",
        "sent LOGIN" + S + "Old_Fox" + S + "127.0.0.1",
        "recv ",
        "recv PING",
        "sent PINGREPLY",
        "recv LOGIN" + S + "0",
        "sent GETUSERLIST",
    };
    EXPECT_EQ(log.lines, expected);
    // The log sees exactly what the socket carries.
    EXPECT_EQ(ws.sent, "VERSION" + S + "1" + E + "LOGIN" + S + "Old_Fox" + S + "127.0.0.1" + E +
                           "PINGREPLY" + E + "GETUSERLIST" + E);
}

TEST_F(ClientTrace, NothingSentIsNothingTraced)
{
    // Logging out with no connection sends nothing, so the trace must not claim it did.
    client.cmdLogout_Click();
    EXPECT_TRUE(ws.sent.empty());
    EXPECT_TRUE(log.lines.empty());
}
