// The link receiver on any bytes, in arrivals cut at any points, some of them arriving while a
// message box is open (nested). Input: chunks of [flags][length][bytes]; flag bit 0 delivers
// the chunk from inside the next message box instead of at the top level.

#include "FakeSocket.h"
#include "FakeWindows.h"
#include "FuzzCheck.h"
#include "link/ListenerModule.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

using namespace stonecall;
using namespace stonecall::testing;

namespace {

// The broadcasts a stream holds, the straightforward way.
std::vector<std::string> broadcastsIn(const std::string& stream, std::string& tail,
                                      std::int32_t& messages)
{
    std::vector<std::string> texts;
    std::size_t start = 0;
    for (std::size_t end; (end = stream.find('\xAE', start)) != std::string::npos;
         start = end + 1) {
        ++messages;
        const std::string message = stream.substr(start, end - start);
        if (message.empty())
            continue;
        const std::size_t sep = message.find('\xA9');
        std::string keyword = message.substr(0, sep);
        std::transform(keyword.begin(), keyword.end(), keyword.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (keyword != "SENDBROADCAST")
            continue;
        if (sep == std::string::npos) {
            texts.emplace_back();
        } else {
            const std::size_t next = message.find('\xA9', sep + 1);
            texts.push_back(message.substr(sep + 1, next == std::string::npos ? std::string::npos
                                                                              : next - sep - 1));
        }
    }
    tail = stream.substr(start);
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeSocket vlan;
    FakeDialogs dialogs;
    FakeApplication app;
    ListenerModule link(vlan, dialogs, app, [] {});
    link.StartListener();
    vlan.raiseConnect();

    std::deque<std::string> nested;
    std::string stream; // everything delivered, in the order it reached the buffer
    int arrivals = 0;
    int depth = 0;
    const auto deliver = [&](const std::string& bytes) {
        stream += bytes;
        ++arrivals;
        vlan.deliver(bytes);
    };
    dialogs.onMsgBox = [&](const std::string&) {
        if (nested.empty() || depth >= 8)
            return;
        const std::string bytes = nested.front();
        nested.pop_front();
        ++depth;
        deliver(bytes);
        --depth;
    };

    std::size_t pos = 0;
    while (pos + 2 <= size) {
        const bool isNested = data[pos] & 1;
        const std::size_t length = std::min<std::size_t>(data[pos + 1], size - pos - 2);
        std::string bytes(reinterpret_cast<const char*>(data) + pos + 2, length);
        pos += 2 + length;
        if (isNested)
            nested.push_back(std::move(bytes));
        else
            deliver(bytes);
    }

    std::string tail;
    std::int32_t messages = 0;
    const std::vector<std::string> broadcasts = broadcastsIn(stream, tail, messages);
    FUZZ_CHECK(link.LinkMessageCount == messages);
    FUZZ_CHECK(link.LinkBuffer() == tail);
    FUZZ_CHECK(dialogs.shown.size() == static_cast<std::size_t>(arrivals) + broadcasts.size());
    if (!broadcasts.empty())
        FUZZ_CHECK(link.BroadcastText == broadcasts.back());
    return 0;
}
