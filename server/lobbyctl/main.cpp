// stonecall-lobbyctl: the operator's commands to a running stonecall-lobbyd (kick, ban,
// mute, notices, who is in), sent over the server's control socket, one line each.

#include <CLI/CLI.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* DefaultSocket = "/run/stonecall-lobbyd/control";
constexpr int ReplyTimeoutMs = 10000;

enum Exit { Done = 0, Refused = 1, Usage = 2, Unreachable = 3 };

constexpr const char* Commands =
    "Commands:\n"
    "  kick NAME [--reason TEXT]  Disconnect a user (who is told first, with the reason).\n"
    "  ban [name|address] TARGET [--for DURATION] [--reason TEXT]\n"
    "                             Refuse a name, or an IPv4/IPv6 address or range (CIDR, such\n"
    "                             as 203.0.113.0/24), at log-in, and disconnect whoever it\n"
    "                             matches now; kept across restarts. A bare TARGET that reads\n"
    "                             as an address is one, unless a user goes by that name.\n"
    "  unban [name|address] TARGET\n"
    "                             Lift a ban.\n"
    "  mute NAME [--for DURATION] Stop relaying a user's chat lines (the user is told).\n"
    "  unmute NAME                Relay them again.\n"
    "  notice TEXT...             Show a line from the lobby to every user.\n"
    "  bans                       List the bans: kind, name or address, end, reason.\n"
    "  who                        List the users: number, name, address, state.\n"
    "  stats                      Print the lobby's figures in the Prometheus text format.\n\n"
    "Exit status: 0 done, 1 the server refused (no such user, no such ban, a ban not kept...),\n"
    "2 wrong usage, 3 the server cannot be reached.\n";

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "stonecall-lobbyctl: %s\n", message.c_str());
    return status;
}

// Seconds in a duration such as 90, 90s, 30m, 12h or 7d.
std::optional<long long> seconds(std::string_view text)
{
    long long unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        default:
            unit = 0;
        }
        if (unit != 0)
            text.remove_suffix(1);
        else
            unit = 1;
    }
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    unsigned long long digits = 0; // unsigned: no sign is taken
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), digits);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    const auto value = static_cast<long long>(digits);
    if (value == 0)
        return std::nullopt;
    return value * unit;
}

bool holdsControl(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

struct Reply {
    std::vector<std::string> data;
    std::string last;
};

// Sends the line and reads the reply up to its ok or error line.
std::optional<Reply> ask(const std::string& path, const std::string& line, std::string& problem)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        problem = "the socket path is empty or too long: " + path;
        return std::nullopt;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        problem = std::strerror(errno);
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(fd);
        problem = "cannot reach the lobby server at " + path + ": " + std::strerror(error);
        if (error == ENOENT || error == ECONNREFUSED)
            problem += " (is it running, with its control socket there?)";
        else if (error == EACCES || error == EPERM)
            problem += " (only the server's own user, or root, may use it)";
        return std::nullopt;
    }
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = send(fd, line.data() + done, line.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            problem = std::string("the lobby server closed the control connection: ") +
                      std::strerror(errno);
            close(fd);
            return std::nullopt;
        }
        done += static_cast<std::size_t>(n);
    }
    Reply reply;
    std::string input;
    char buffer[65536];
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ReplyTimeoutMs);
    for (;;) {
        std::size_t end;
        while ((end = input.find('\n')) != std::string::npos) {
            std::string got = input.substr(0, end);
            input.erase(0, end + 1);
            if (got.rfind("- ", 0) == 0) {
                reply.data.push_back(got.substr(2));
                continue;
            }
            reply.last = std::move(got);
            close(fd);
            return reply;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            problem = "the lobby server did not answer within " +
                      std::to_string(ReplyTimeoutMs / 1000) + " seconds";
            close(fd);
            return std::nullopt;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            problem = "the lobby server closed the control connection without an answer";
            close(fd);
            return std::nullopt;
        }
        input.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app("Tells a running stonecall-lobbyd what its operator wants, through its control "
                 "socket.",
                 "stonecall-lobbyctl");
    app.footer(Commands);
    app.set_help_flag("-h,--help", "Displays this help.");
    app.set_version_flag("-v,--version", std::string("stonecall-lobbyctl ") + STONECALL_VERSION,
                         "Displays version information.");
    std::string socketPath = DefaultSocket;
    std::string length;
    std::string reason;
    std::vector<std::string> words;
    app.add_option("--socket", socketPath,
                   std::string("The server's control socket (default ") + DefaultSocket + ").")
        ->type_name("PATH")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* lengthOption =
        app.add_option("--for", length,
                       "How long a ban or mute lasts: a number with s, m, h or d (90s, 30m, 12h, "
                       "7d); a plain number is seconds. Default: until lifted.")
            ->type_name("DURATION")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* reasonOption =
        app.add_option("--reason", reason,
                       "Why, for a kick or a ban: told to the user, and kept with the ban for "
                       "a later log-in to read and for bans to list (at most 200 characters).")
            ->type_name("TEXT")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("command", words, "The command and its arguments.")->type_name("");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        return fail(Usage, std::string(error.what()) + "; --help lists the options");
    }
    const bool timed = !lengthOption->empty();
    const bool reasoned = !reasonOption->empty();
    if (words.empty())
        return fail(Usage, "no command; --help lists them");
    const std::string command = words[0];
    std::vector<std::string> arguments(words.begin() + 1, words.end());
    std::vector<std::string> fields{command};
    const bool isBan = command == "ban" || command == "unban";
    if (timed && command != "ban" && command != "mute")
        return fail(Usage, "--for goes with ban and mute only");
    if (reasoned && command != "ban" && command != "kick")
        return fail(Usage, "--reason goes with ban and kick only");
    if (isBan && arguments.size() == 2 && (arguments[0] == "name" || arguments[0] == "address")) {
        fields[0] += "-" + arguments[0];
        arguments.erase(arguments.begin());
    }
    const bool named =
        isBan || command == "ban" || command == "mute" || command == "kick" || command == "unmute";
    if (named) {
        if (arguments.size() != 1)
            return fail(Usage, command +
                                   (isBan ? " takes one name or address, or the word name "
                                            "or address and one"
                                          : " takes one name") +
                                   " (put a name with blanks in quotes)");
        fields.push_back(arguments[0]);
        if (timed) {
            const auto count = seconds(length);
            if (!count)
                return fail(Usage,
                            "--for takes a duration such as 90s, 30m, 12h or 7d, not " + length);
            fields.push_back(std::to_string(*count));
        }
        if (reasoned) {
            if (command == "ban" && !timed)
                fields.push_back("-"); // until lifted
            fields.push_back(reason);
        }
    } else if (command == "notice") {
        if (arguments.empty())
            return fail(Usage, "notice needs a text");
        std::string text;
        for (const std::string& word : arguments)
            text += (text.empty() ? "" : " ") + word;
        fields.push_back(text);
    } else if (command == "bans" || command == "who" || command == "stats") {
        if (!arguments.empty())
            return fail(Usage, command + " takes no arguments");
    } else {
        return fail(Usage, "unknown command " + command + "; --help lists them");
    }
    std::string line;
    for (const std::string& field : fields) {
        // A tab or a line break would split the command, and no name or text may hold one.
        if (holdsControl(field))
            return fail(Usage, "a name or text may not hold tabs, line breaks or other control "
                               "characters");
        line += (line.empty() ? "" : "\t") + field;
    }
    line += '\n';

    std::string problem;
    const auto reply = ask(socketPath, line, problem);
    if (!reply)
        return fail(Unreachable, problem);
    for (const std::string& data : reply->data)
        std::printf("%s\n", data.c_str());
    if (reply->last.rfind("ok", 0) == 0) {
        if (reply->last.rfind("ok: ", 0) == 0)
            std::printf("%s\n", reply->last.c_str() + 4);
        return Done;
    }
    if (reply->last.rfind("error: ", 0) == 0)
        return fail(Refused, reply->last.substr(7));
    return fail(Refused, "unexpected answer: " + reply->last);
}
