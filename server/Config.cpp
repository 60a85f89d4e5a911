#include "Config.h"

#include "Log.h"
#include "Motd.h"
#include "RegularFile.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace stonecall::server {

namespace {

// Far more than any real configuration; a mistaken path to a large file is refused.
constexpr std::size_t MaxConfigBytes = 64 * 1024;

struct NumberRange {
    long low, high;
};

std::optional<NumberRange> numberRange(std::string_view name)
{
    if (name == "port")
        return NumberRange{0, 65535};
    if (name == "ping-interval")
        return NumberRange{0, 86400};
    if (name == "max-users")
        return NumberRange{1, MaxUsersLimit};
    if (name == "chat-rate" || name == "chat-burst")
        return NumberRange{name == "chat-rate" ? 0 : 1, 1000};
    if (name == "flood-disconnect" || name == "logins-per-minute")
        return NumberRange{0, 100000};
    if (name == "shutdown-notice")
        return NumberRange{0, 60};
    if (name == "connections-per-address" || name == "pending-per-address")
        return NumberRange{0, MaxUsersLimit};
    if (name == "login-deadline")
        return NumberRange{1, 3600};
    if (name == "ipv6-prefix")
        return NumberRange{16, 128};
    return std::nullopt;
}

std::optional<long> number(const std::string& text, NumberRange range)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    // Blanks after the number are allowed, as they always were; nothing else is.
    while (end && *end == ' ')
        ++end;
    if (text.empty() || errno != 0 || !end || *end != '\0' || value < range.low ||
        value > range.high)
        return std::nullopt;
    return value;
}

// The file's settings as option values; a message on failure. At a reload an empty file is
// refused: it is far more likely one caught mid-rewrite than a wish for every default.
std::variant<OptionValues, std::string> readFile(const std::string& path, bool mayBeMissing,
                                                 bool reloading)
{
    // Only a regular file, opened without blocking: a FIFO put in its place must not hold
    // the server; and read here rather than by the parser, so that a folder or an unreadable
    // file is an error and not an empty configuration.
    OpenedFile file = openRegularFile(path);
    if (!file.fd) {
        if (mayBeMissing && file.missing)
            return OptionValues{};
        return file.problem;
    }
    std::string text;
    bool whole = false;
    if (auto problem = readUpTo(file.fd.get(), path, MaxConfigBytes, text, whole))
        return *problem;
    if (!whole)
        return path + ": larger than " + std::to_string(MaxConfigBytes) + " bytes";
    if (reloading && text.find_first_not_of(" \t\r\n") == std::string::npos)
        return path + ": empty (caught while being written?); an empty file is taken only at "
                      "start";
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& error) {
        const auto& where = error.source().begin;
        return path + ":" + std::to_string(where.line) + ":" + std::to_string(where.column) + ": " +
               std::string(error.description());
    }
    OptionValues values;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        const auto& infos = optionInfos();
        const auto info = std::find_if(infos.begin(), infos.end(), [&](const OptionInfo& o) {
            return o.inFile && name == o.name;
        });
        const std::string where = path + ":" + std::to_string(key.source().begin.line) + ": ";
        if (info == infos.end())
            return where + "unknown setting '" + name + "'";
        if (name == "limit-loopback") {
            if (!node.is_boolean())
                return where + name + " takes true or false";
            values[name] = node.as_boolean()->get() ? "true" : "false";
        } else if (numberRange(name)) {
            if (!node.is_integer())
                return where + name + " takes a whole number";
            values[name] = std::to_string(node.as_integer()->get());
        } else {
            if (!node.is_string())
                return where + name + " takes a text in quotes";
            values[name] = node.as_string()->get();
        }
    }
    return values;
}

std::variant<std::vector<std::string>, std::string> readMotd(const std::string& path)
{
    OpenedFile file = openRegularFile(path);
    if (!file.fd)
        return "cannot read " + file.problem;
    // Read no more than the longest message of the day can use.
    std::string text;
    bool whole = false;
    if (auto problem =
            readUpTo(file.fd.get(), path, MaxMotdLines * (MaxMotdLineLength + 2), text, whole))
        return "cannot read " + *problem;
    return motdFromText(text);
}

} // namespace

const std::vector<OptionInfo>& optionInfos()
{
    static const std::vector<OptionInfo> infos = {
        {"config", "file",
         "Configuration file (default /etc/stonecall/lobbyd.conf, which may be missing); "
         "options given here win over it.",
         false},
        {"bind", "address", "Address to listen on (default: every address, IPv6 and IPv4).", true},
        {"port", "port", "TCP port to listen on; 0 picks a free one (default 13511).", true},
        {"motd", "file",
         "Message of the day: a text file, one line per line shown (default: a short "
         "greeting).",
         true},
        {"ping-interval", "seconds", "Seconds between pings; 0 turns pings off (default 30).",
         true},
        {"max-users", "count", "Most users logged in at once, 1 to 32767 (default 1000).", true},
        {"chat-rate", "lines",
         "Chat lines per second a user may send beyond the burst; 0 turns the limit off "
         "(default 1).",
         true},
        {"chat-burst", "lines", "Chat lines a user may send at once, 1 to 1000 (default 8).", true},
        {"flood-disconnect", "lines",
         "Chat lines refused in a row that end the connection; 0: never (default 30).", true},
        {"connections-per-address", "count",
         "Connections open at once from one address, loopback aside; 0: no limit (default 8).",
         true},
        {"pending-per-address", "count",
         "Connections still logging in at once from one address, loopback aside; 0: no limit "
         "(default 4).",
         true},
        {"logins-per-minute", "count",
         "Log-ins per minute from one address, loopback aside; 0: no limit (default 20).", true},
        {"login-deadline", "seconds",
         "Seconds from connecting to logging in before the connection is dropped, 1 to 3600 "
         "(default 10).",
         true},
        {"ipv6-prefix", "bits",
         "Leading bits an IPv6 address counts by for the per-address limits, 16 to 128 "
         "(default 64: one subscriber's network).",
         true},
        {"limit-loopback", "true|false",
         "Apply the per-address limits to loopback peers too, for a server behind a local "
         "proxy (default false).",
         true},
        {"state-dir", "folder",
         "Folder for what outlives a restart, the bans among it (default: $STATE_DIRECTORY "
         "when systemd sets it, else none, nothing kept); read at start.",
         true},
        {"control-socket", "path",
         "The operator's control socket for stonecall-lobbyctl (default: control in "
         "$RUNTIME_DIRECTORY when systemd sets it, else none; empty: none); read at start.",
         true},
        {"shutdown-notice", "seconds",
         "Seconds from telling the players the lobby closes to closing it, on SIGTERM or "
         "SIGINT, 0 to 60 (default 5).",
         true},
        {"log-level", "level",
         "Least important events logged: error, warning, info or debug (default info).", true},
    };
    return infos;
}

std::variant<Settings, std::string> loadSettings(const OptionValues& commandLine, bool reloading)
{
    Settings settings;
    OptionValues values;
    const auto given = commandLine.find("config");
    settings.configPath = given != commandLine.end() ? given->second : DefaultConfigPath;
    if (!settings.configPath.empty()) {
        auto file = readFile(settings.configPath, given == commandLine.end(), reloading);
        if (auto* error = std::get_if<std::string>(&file))
            return *error;
        values = std::move(std::get<OptionValues>(file));
    }
    // What the file says, with the command line over it.
    std::map<std::string, std::string> origin;
    for (const auto& [name, value] : values)
        origin[name] = settings.configPath + ": " + name;
    for (const auto& [name, value] : commandLine) {
        values[name] = value;
        origin[name] = "--" + name;
    }

    const auto numberOf = [&](const std::string& name, long fallback) -> std::optional<long> {
        const auto it = values.find(name);
        if (it == values.end())
            return fallback;
        const NumberRange range = *numberRange(name);
        return number(it->second, range);
    };
    for (const char* name :
         {"port", "ping-interval", "max-users", "chat-rate", "chat-burst", "flood-disconnect",
          "connections-per-address", "logins-per-minute", "shutdown-notice", "pending-per-address",
          "login-deadline", "ipv6-prefix"}) {
        if (!numberOf(name, 0)) {
            const NumberRange range = *numberRange(name);
            return origin[name] + " takes a whole number from " + std::to_string(range.low) +
                   " to " + std::to_string(range.high);
        }
    }
    settings.port = static_cast<std::uint16_t>(*numberOf("port", 13511));
    settings.server.pingInterval = std::chrono::seconds(*numberOf("ping-interval", 30));
    settings.server.lobby.maxUsers = static_cast<int>(*numberOf("max-users", 1000));
    LobbyLimits& limits = settings.server.lobby.limits;
    limits.chatLinesPerSecond = static_cast<double>(*numberOf("chat-rate", 1));
    limits.chatBurst = static_cast<int>(*numberOf("chat-burst", limits.chatBurst));
    limits.floodDisconnectAfter =
        static_cast<int>(*numberOf("flood-disconnect", limits.floodDisconnectAfter));
    limits.connectionsPerAddress =
        static_cast<int>(*numberOf("connections-per-address", limits.connectionsPerAddress));
    limits.loginsPerAddressPerMinute =
        static_cast<int>(*numberOf("logins-per-minute", limits.loginsPerAddressPerMinute));
    limits.pendingPerAddress =
        static_cast<int>(*numberOf("pending-per-address", limits.pendingPerAddress));
    limits.loginDeadline =
        std::chrono::seconds(*numberOf("login-deadline", limits.loginDeadline.count()));
    limits.ipv6Prefix = static_cast<int>(*numberOf("ipv6-prefix", limits.ipv6Prefix));
    if (const auto it = values.find("limit-loopback"); it != values.end()) {
        if (it->second != "true" && it->second != "false")
            return origin["limit-loopback"] + " is true or false";
        limits.limitLoopback = it->second == "true";
    }
    // systemd names the folders of StateDirectory= and RuntimeDirectory= in the environment
    // (several separated by ':'); under the packaged service they are the defaults.
    const auto systemdFolder = [](const char* variable) -> std::string {
        const char* value = std::getenv(variable);
        if (!value || !*value)
            return {};
        const std::string folders(value);
        return folders.substr(0, folders.find(':'));
    };
    if (const auto it = values.find("state-dir"); it != values.end())
        settings.server.lobby.stateFolder = it->second;
    else
        settings.server.lobby.stateFolder = systemdFolder("STATE_DIRECTORY");
    settings.shutdownNotice = static_cast<int>(*numberOf("shutdown-notice", 5));
    if (const auto it = values.find("control-socket"); it != values.end()) {
        settings.controlSocket = it->second;
    } else if (const std::string runtime = systemdFolder("RUNTIME_DIRECTORY"); !runtime.empty()) {
        settings.controlSocket = runtime + "/control";
    }

    if (const auto it = values.find("bind"); it != values.end()) {
        std::error_code error;
        asio::ip::make_address(it->second, error);
        if (error)
            return origin["bind"] + ": '" + it->second + "' is not an IPv4 or IPv6 address";
        settings.bind = it->second;
    }
    if (const auto it = values.find("log-level"); it != values.end()) {
        const auto level = Log::levelNamed(it->second);
        if (!level)
            return origin["log-level"] + " is one of error, warning, info, debug";
        settings.logLevel = *level;
    }
    settings.server.lobby.motd = defaultMotd();
    if (const auto it = values.find("motd"); it != values.end()) {
        auto motd = readMotd(it->second);
        if (auto* error = std::get_if<std::string>(&motd))
            return *error;
        settings.server.lobby.motd = std::move(std::get<std::vector<std::string>>(motd));
    }
    return settings;
}

} // namespace stonecall::server
