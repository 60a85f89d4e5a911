#pragma once
// The public chat: the log box TxChat that AddLog writes to, and the input line TxOut whose
// text goes to the server scrambled when Enter is pressed. The client never logs its own
// line; it shows up when the server relays it.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace stonecall {

class LobbyWindow;

class ChatLog {
public:
    // send hands one message (without its end mark) to the server.
    ChatLog(LobbyWindow& lobby, std::function<void(std::string)> send);

    void AddLog(std::string_view line);
    void TxOut_KeyPress(int key);
    void TxChat_Click();

    // A log longer than this, line breaks counted as CR and LF, starts afresh; it keeps the
    // line that took it over the limit when that line fits by itself.
    static constexpr std::size_t MaxLogLength = 15000;
    // What a line adds to the log's length before its own CR LF.
    static std::size_t logLengthOf(std::string_view line);
    static constexpr int EnterKey = 13;

private:
    LobbyWindow& lobby_;
    std::function<void(std::string)> send_;
};

} // namespace stonecall
