#include "Motd.h"

namespace stonecall::server {

std::vector<std::string> defaultMotd()
{
    return {
        "Welcome to the Stonecall lobby!",
        "Open a hut with Create, or double-click an empty place to join one.",
        "Be kind in the chat.",
    };
}

std::vector<std::string> motdFromText(std::string_view text)
{
    std::vector<std::string> lines;
    while (!text.empty() && lines.size() < MaxMotdLines) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line.substr(0, MaxMotdLineLength));
    }
    return lines;
}

} // namespace stonecall::server
