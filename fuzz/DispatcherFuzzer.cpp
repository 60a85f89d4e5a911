// The server message dispatcher on any byte stream, cut into arrivals at any points.
// Input: a series of chunks, each a length byte followed by that many bytes (one arrival).

#include "FakeSocket.h"
#include "FakeWindows.h"
#include "FuzzCheck.h"
#include "WellFormed.h"
#include "app/Client.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace stonecall;
using namespace stonecall::testing;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeLoginWindow login;
    FakeLobbyWindow lobby;
    FakeSocket ws, vlan;
    FakeDialogs dialogs;
    FakeApplication app;
    Client client(Platform{login, lobby, ws, vlan, dialogs, app});
    client.LoginForm_Load();
    login.usrName = "Fuzz";
    client.cmdLogin_Click();
    ws.raiseConnect();
    ws.takeSent();

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t pos = 0;
    while (pos < input.size()) {
        const std::size_t length = static_cast<unsigned char>(input[pos++]);
        const std::string_view arrival = input.substr(pos, length);
        pos += arrival.size();

        const int maxBefore = client.session().Users.MaxUserIndex();
        ws.connected = true; // a refused version closes the socket; keep feeding the same session
        ws.deliver(arrival);

        FUZZ_CHECK(client.session().Users.MaxUserIndex() >= maxBefore);
        FUZZ_CHECK(lobby.burstDepth == 0);
        FUZZ_CHECK(client.session().RecvBuffer.size() <= Client::MaxMessageSize);
        for (const std::string& message : ws.takeSent())
            FUZZ_CHECK(isWellFormedClientMessage(message));
        FUZZ_CHECK(ws.sent.empty()); // every message sent was ended
        checkTreesMatchTable(client.session().Users, lobby.users);
    }
    return 0;
}
