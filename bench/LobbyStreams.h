#pragma once
// The server's side of a log-in to a full lobby, as the client benchmarks replay it.

#include "wire/Encryptor.h"

#include <string>

namespace stonecall::bench {

const std::string S = "\xA4";
const std::string E = "\x06";

std::string userName(int i)
{
    return "Player_" + std::to_string((i * 7919) % 100003);
}

// What a lobby server sends for a log-in to a lobby of `users` users, from LOGIN to the end of
// the message of the day: the user list, every user's state (every tenth a host of a 4-player
// hut, the next two its members, every seventh playing), then 20 lines of the day.
std::string loginStream(int users)
{
    std::string stream = "LOGIN" + S + "1" + E;
    stream += "USER" + S + "0" + S + "NONE" + S + E;
    for (int i = 1; i <= users; ++i)
        stream += "USER" + S + std::to_string(i) + S + userName(i) + S + E;
    for (int i = 1; i <= users; ++i) {
        stream += "USERSTATE" + S + std::to_string(i) + S;
        if (i % 10 == 0)
            stream += "HOST" + S + "4" + S + (i % 20 == 0 ? "NONE" : "pw") + E;
        else if (i % 10 <= 2 && i > 10)
            stream += "CLIENT" + S + std::to_string(i - i % 10) + S + std::to_string(i % 10) + E;
        else if (i % 7 == 0)
            stream += "GAMING" + E;
        else
            stream += "IDLE" + E;
    }
    stream += "ENDUSERS" + E;
    for (int line = 0; line < 20; ++line)
        stream += "MOTDLINE" + S +
                  EncryptText("Line " + std::to_string(line) + " of the message of the day") + E;
    return stream;
}

} // namespace stonecall::bench
