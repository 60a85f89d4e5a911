#pragma once
// Cuts a byte stream into messages at a terminator, keeping an unfinished message in a
// buffer that the caller owns (it outlives one arrival). Each complete message is handed
// to the callback before the next byte is looked at, empty ones included.

#include <cstddef>
#include <string>
#include <string_view>

namespace stonecall {

enum class FeedResult { Ok, Overflow };

// A message longer than `limit` bytes without its terminator stops the walk: the buffer is
// emptied and Overflow returned, so a peer that never ends a message cannot exhaust memory.
template <class OnMessage>
FeedResult feedMessages(std::string& buffer, std::string_view bytes, char terminator,
                        std::size_t limit, OnMessage&& onMessage)
{
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find(terminator, pos);
        const std::string_view piece =
            bytes.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (buffer.size() + piece.size() > limit) {
            buffer.clear();
            buffer.shrink_to_fit();
            return FeedResult::Overflow;
        }
        if (end == std::string_view::npos) {
            buffer.append(piece);
            break;
        }
        pos = end + 1;
        if (buffer.empty()) {
            onMessage(piece);
        } else {
            buffer.append(piece);
            const std::string message = std::move(buffer);
            buffer.clear();
            onMessage(std::string_view(message));
        }
    }
    return FeedResult::Ok;
}

} // namespace stonecall
