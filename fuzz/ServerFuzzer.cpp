// The lobby server's reader on any bytes from up to eight connections at once.
// Input: a series of chunks, each a control byte, a length byte and that many bytes. The
// control byte's low three bits pick the connection slot (a slot whose connection is gone
// opens a new one); bits 3 and 4 say what follows the bytes: 0 nothing, 1 a tick, 2 the
// connection is lost, 3 a tick. After a tick, slots 0 to 3 answer their pings and challenges
// as a client would; slots 4 to 7 answer only with what the input gives them.

#include "FuzzCheck.h"
#include "Lobby.h"
#include "LobbyChecks.h"
#include "Rules.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace stonecall;
using namespace stonecall::server;
using namespace stonecall::testing;

namespace {

constexpr int Slots = 8;
constexpr int AnsweringSlots = 4;
constexpr std::int16_t Challenge = 100;

using Fields = std::vector<std::string>;
using View = std::map<int, std::pair<std::string, Fields>>; // index -> name, last USERSTATE

// What one connection has been told, and whether the order suits a client.
struct Peer {
    bool versionGood = false;
    bool loggedIn = false;
    bool synced = false;  // has had a whole user list: its view must match the lobby
    bool refused = false; // told why it is turned away: nothing may follow but the close
    View view;
    std::vector<std::string> answers;
};

class Recorder final : public Outbox {
public:
    std::map<ConnectionId, Peer> open;
    std::set<ConnectionId> gone; // dropped by the lobby or lost by the transport

    void send(ConnectionId to, std::string_view message) override
    {
        FUZZ_CHECK(gone.count(to) == 0);
        const auto it = open.find(to);
        FUZZ_CHECK(it != open.end());
        FUZZ_CHECK(isWellFormedServerMessage(message));
        Peer& peer = it->second;
        FUZZ_CHECK(!peer.refused);
        Fields f;
        for (std::string_view field : splitFields(message))
            f.emplace_back(field);
        const std::string& keyword = f[0];
        if (keyword == "VERSION") {
            FUZZ_CHECK(!peer.versionGood); // answered once
            peer.versionGood = f[1] == "GOOD";
        } else if (keyword == "PING") {
            peer.answers.push_back("PINGREPLY");
        } else if (keyword == "LOGIN") {
            FUZZ_CHECK(peer.versionGood && !peer.loggedIn);
            peer.loggedIn = true;
        } else if (keyword == "PUBMSG" && !peer.loggedIn) {
            // A connection or log-in refused: the lobby's own line says why.
            FUZZ_CHECK(f.size() == 3 && f[1] == "*lobby*: ");
            peer.refused = true;
        } else {
            // Everything else is for users only.
            FUZZ_CHECK(peer.loggedIn);
            if (keyword == "VERIFY")
                peer.answers.push_back(makeCommand(
                    "VERIFY",
                    {std::to_string(
                        verifyResponse(static_cast<std::int16_t>(std::stoi(f[1]))).value())}));
            else if (keyword == "ENDUSERS")
                peer.synced = true;
            else if (keyword == "USER" || keyword == "USERSTATE")
                apply(peer, f);
        }
    }

    void drop(ConnectionId who, DropKind) override
    {
        FUZZ_CHECK(open.count(who) == 1 && gone.count(who) == 0);
        open.erase(who);
        gone.insert(who);
    }

private:
    static void apply(Peer& peer, const Fields& f)
    {
        const int index = std::stoi(f[1]);
        if (f[0] == "USER") {
            if (f[2] == "NONE")
                peer.view.erase(index);
            else
                peer.view[index].first = f[2];
            return;
        }
        // Once a user list has come, a state is only ever told of an entry it named.
        FUZZ_CHECK(!peer.synced || peer.view.count(index) == 1);
        peer.view[index].second = f;
    }
};

// What a client that applies everything it heard would show must be the lobby as it is.
void checkViews(const Lobby& lobby, const Recorder& out)
{
    View truth;
    const auto& users = lobby.users();
    for (std::size_t i = 1; i < users.size(); ++i)
        if (users[i].connection != 0)
            truth[static_cast<int>(i)] = {users[i].name,
                                          stateFields(users[i], static_cast<int>(i))};
    for (const auto& [id, peer] : out.open)
        if (peer.synced)
            FUZZ_CHECK(peer.view == truth);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Recorder out;
    LobbyConfig config;
    config.maxUsers = 5; // fewer than the slots, so a full lobby is reachable
    config.motd = {"Welcome", "\xE9t\xE9 \xA4 \x06"};
    config.verifyEveryTicks = 2;
    config.challenge = [] { return Challenge; };
    // Time stands still: a run is repeatable, and the chat limit's flood path is reachable.
    config.clock = [] { return std::chrono::steady_clock::time_point{}; };
    Lobby lobby(config, out);

    std::array<ConnectionId, Slots> slots{};
    ConnectionId nextId = 1;
    const auto openSlot = [&](int slot) {
        if (slots[static_cast<std::size_t>(slot)] == 0 ||
            out.open.count(slots[static_cast<std::size_t>(slot)]) == 0) {
            const ConnectionId id = nextId++;
            slots[static_cast<std::size_t>(slot)] = id;
            out.open.emplace(id, Peer{});
            lobby.connected(id);
        }
        return slots[static_cast<std::size_t>(slot)];
    };
    const auto tick = [&] {
        for (auto& [id, peer] : out.open)
            peer.answers.clear();
        lobby.tick();
        for (int slot = 0; slot < AnsweringSlots; ++slot) {
            const ConnectionId id = slots[static_cast<std::size_t>(slot)];
            const auto it = out.open.find(id);
            if (id == 0 || it == out.open.end())
                continue;
            std::string reply;
            for (const std::string& answer : std::exchange(it->second.answers, {}))
                reply += answer + MsgEnd;
            lobby.bytesReceived(id, reply);
        }
    };

    std::size_t pos = 0;
    while (pos + 2 <= size) {
        const std::uint8_t control = data[pos];
        const std::size_t length = std::min<std::size_t>(data[pos + 1], size - pos - 2);
        const std::string_view bytes(reinterpret_cast<const char*>(data + pos + 2), length);
        pos += 2 + length;

        const ConnectionId id = openSlot(control & 7);
        lobby.bytesReceived(id, bytes);
        switch ((control >> 3) & 3) {
        case 1:
        case 3:
            tick();
            break;
        case 2:
            if (out.open.erase(id) != 0) {
                out.gone.insert(id);
                lobby.disconnected(id);
            }
            break;
        default:
            break;
        }

        FUZZ_CHECK(lobby.connectionCount() == out.open.size());
        checkLobbyInvariants(lobby);
        checkViews(lobby, out);
    }
    return 0;
}
