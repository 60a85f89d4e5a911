#include "FakeSocket.h"

#include "wire/Wire.h"

namespace stonecall::testing {

std::vector<std::string> FakeSocket::takeSent()
{
    std::vector<std::string> messages;
    std::size_t start = 0;
    for (std::size_t end; (end = sent.find(MsgEnd, start)) != std::string::npos; start = end + 1)
        messages.push_back(sent.substr(start, end - start));
    sent.erase(0, start);
    return messages;
}

} // namespace stonecall::testing
