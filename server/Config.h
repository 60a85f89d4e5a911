#pragma once
// The server's settings: the options on the command line over those in the configuration
// file (TOML, the same names as the long options), checked and turned into what the server
// runs with. Read at start, and again when the operator asks for a reload.

#include "LobbyServer.h"
#include "LogLevel.h"

#include <map>
#include <optional>
#include <string>
#include <variant>

namespace stonecall::server {

inline constexpr const char* DefaultConfigPath = "/etc/stonecall/lobbyd.conf";

struct OptionInfo {
    const char* name;
    const char* value; // the value's name in the help
    const char* help;
    bool inFile; // may stand in the configuration file too
};

// Every option taking a value, in the order the help lists them.
const std::vector<OptionInfo>& optionInfos();

// Options by name (without the dashes), values as text.
using OptionValues = std::map<std::string, std::string>;

struct Settings {
    std::string configPath; // empty: none read
    std::string bind;       // empty: every address
    std::uint16_t port = 13511;
    LogLevel logLevel = LogLevel::Info;
    std::string controlSocket; // empty: none
    int shutdownNotice = 5;    // seconds between the players' notice and the end
    ServerConfig server;
};

// The settings from the command line's options and the configuration file they name (or
// the default one, which may be missing), with the message of the day read; or a message
// saying what is wrong and where. The files are taken only when they are regular files (a
// FIFO or a device is refused); at a reload (`reloading`) an empty configuration file is
// refused too.
std::variant<Settings, std::string> loadSettings(const OptionValues& commandLine,
                                                 bool reloading = false);

} // namespace stonecall::server
