// stonecall-lobbyctl: the operator's commands to a running stonecall-lobbyd (kick, ban,
// mute, notices, who is in), sent over the server's control socket, one line each.

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

void printHelp()
{
    std::printf(
        "Usage: stonecall-lobbyctl [--socket PATH] COMMAND [ARGUMENTS]\n"
        "Tells a running stonecall-lobbyd what its operator wants, through its control "
        "socket.\n\n"
        "Commands:\n"
        "  kick NAME                  Disconnect a user (who is told first).\n"
        "  ban NAME|ADDRESS [--for DURATION]\n"
        "                             Refuse a name or an IPv4/IPv6 address at log-in, and "
        "disconnect\n"
        "                             whoever it matches now; kept across restarts.\n"
        "  unban NAME|ADDRESS         Lift a ban.\n"
        "  mute NAME [--for DURATION] Stop relaying a user's chat lines (the user is told).\n"
        "  unmute NAME                Relay them again.\n"
        "  notice TEXT...             Show a line from the lobby to every user.\n"
        "  bans                       List the bans: kind, name or address, end.\n"
        "  who                        List the users: number, name, address, state.\n\n"
        "Options:\n"
        "  --socket PATH              The server's control socket (default %s).\n"
        "  --for DURATION             How long a ban or mute lasts: a number with s, m, h or d "
        "(90s,\n"
        "                             30m, 12h, 7d); a plain number is seconds. Default: until "
        "lifted.\n"
        "  -h, --help                 Displays this help.\n"
        "  -v, --version              Displays version information.\n\n"
        "Exit status: 0 done, 1 the server refused (no such user, no such ban...), 2 wrong "
        "usage,\n"
        "3 the server cannot be reached.\n",
        DefaultSocket);
}

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
    std::string socketPath = DefaultSocket;
    std::optional<std::string> length;
    std::vector<std::string> words;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (options && arg == "--") {
            options = false;
            continue;
        }
        if (options && (arg == "-h" || arg == "--help")) {
            printHelp();
            return Done;
        }
        if (options && (arg == "-v" || arg == "--version")) {
            std::printf("stonecall-lobbyctl %s\n", STONECALL_VERSION);
            return Done;
        }
        if (options && arg.size() > 1 && arg[0] == '-') {
            std::string_view name = arg;
            std::optional<std::string> value;
            if (const auto equals = name.find('='); equals != std::string_view::npos) {
                value = std::string(name.substr(equals + 1));
                name = name.substr(0, equals);
            }
            if (name != "--socket" && name != "--for")
                return fail(Usage, "unknown option " + std::string(name) + "; --help lists them");
            if (!value) {
                if (i + 1 >= argc)
                    return fail(Usage, std::string(name) + " needs a value");
                value = argv[++i];
            }
            (name == "--socket" ? socketPath : length.emplace()) = *value;
            continue;
        }
        words.emplace_back(arg);
    }
    if (words.empty())
        return fail(Usage, "no command; --help lists them");
    const std::string command = words[0];
    const std::vector<std::string> arguments(words.begin() + 1, words.end());
    std::vector<std::string> fields{command};
    const bool timed = command == "ban" || command == "mute";
    const bool named = timed || command == "kick" || command == "unban" || command == "unmute";
    if (length && !timed)
        return fail(Usage, "--for goes with ban and mute only");
    if (named) {
        if (arguments.size() != 1)
            return fail(Usage, command + " takes one name or address (put a name with blanks "
                                         "in quotes)");
        fields.push_back(arguments[0]);
        if (length) {
            const auto count = seconds(*length);
            if (!count)
                return fail(Usage,
                            "--for takes a duration such as 90s, 30m, 12h or 7d, not " + *length);
            fields.push_back(std::to_string(*count));
        }
    } else if (command == "notice") {
        if (arguments.empty())
            return fail(Usage, "notice needs a text");
        std::string text;
        for (const std::string& word : arguments)
            text += (text.empty() ? "" : " ") + word;
        fields.push_back(text);
    } else if (command == "bans" || command == "who") {
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
