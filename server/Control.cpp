#include "Control.h"

#include "Rules.h"
#include "wire/CharClass.h"
#include "wire/SingleByte.h"
#include "wire/Wire.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

namespace stonecall::server {

namespace {

// UTF-8 to the lobby's single-byte set; nothing when a character is malformed or has no code.
std::optional<std::string> fromUtf8(std::string_view text, std::string& bad)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int more = lead < 0x80    ? 0
                         : lead >= 0xF0 ? 3
                         : lead >= 0xE0 ? 2
                         : lead >= 0xC0 ? 1
                                        : -1;
        if (more < 0 || i + static_cast<std::size_t>(more) >= text.size()) {
            bad = "text that is not UTF-8";
            return std::nullopt;
        }
        char32_t code = more == 0 ? lead : lead & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) {
                bad = "text that is not UTF-8";
                return std::nullopt;
            }
            code = (code << 6) | (next & 0x3F);
        }
        const auto single = singleByteOf(code);
        if (!single) {
            bad = "the character " +
                  std::string(text.substr(i, static_cast<std::size_t>(more) + 1)) +
                  ", which the lobby's character set lacks";
            return std::nullopt;
        }
        out += static_cast<char>(*single);
        i += static_cast<std::size_t>(more) + 1;
    }
    return out;
}

// The lobby's bytes as UTF-8 for a reply, codes nobody can see as \xNN.
std::string toUtf8(std::string_view text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (isInvisibleCode(c) || c == '\\') {
            out += "\\x";
            out += Hex[c >> 4];
            out += Hex[c & 15];
            continue;
        }
        const char16_t u = unicodeOf(c);
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string inQuotes(std::string_view name)
{
    return "\"" + toUtf8(name) + "\"";
}

// Digits only: a length is never written otherwise.
std::optional<long long> secondsOf(std::string_view text)
{
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    unsigned long long value = 0; // unsigned: no sign is taken
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<long long>(value);
}

std::string error(std::string_view text)
{
    return "error: " + std::string(text) + "\n";
}

std::string ok(std::string_view text)
{
    return text.empty() ? "ok\n" : "ok: " + std::string(text) + "\n";
}

const char* stateWord(Lobby::State state)
{
    switch (state) {
    case Lobby::State::Host:
        return "hosting";
    case Lobby::State::Client:
        return "in a hut";
    case Lobby::State::Idle:
        break;
    }
    return "waiting";
}

std::string notKeptNote(const std::string& notKept)
{
    return "it is not kept across a restart: " + notKept;
}

// A change that could not be written is a failure the operator must hear of; one that a
// server without a state folder does not keep is as asked.
std::string keptReply(const std::string& done, const std::string& notKept)
{
    if (notKept.empty())
        return ok(done);
    if (notKept == NoStateFolder)
        return ok(done + " (this server keeps no state-dir: until it stops)");
    return error(done + " for now, but " + notKeptNote(notKept));
}

// A ban's or a mute's length: a whole number of seconds in range.
bool lengthOf(std::string_view text, std::optional<std::chrono::seconds>& length, std::string& bad)
{
    const auto seconds = secondsOf(text);
    if (!seconds || *seconds < 1 || *seconds > MaxControlSeconds) {
        bad = "the length is a whole number of seconds from 1 to " +
              std::to_string(MaxControlSeconds);
        return false;
    }
    length = std::chrono::seconds(*seconds);
    return true;
}

// A kick's or a ban's reason, read by the user it concerns: one line of visible characters.
bool acceptableReason(const std::string& reason, std::string& bad)
{
    if (reason.size() > MaxBanReason) {
        bad = "a reason is at most " + std::to_string(MaxBanReason) + " characters";
        return false;
    }
    if (std::any_of(reason.begin(), reason.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u < 0x20 || u == 0x7f || isInvisibleCode(u);
        })) {
        bad = "the reason holds characters nobody can see";
        return false;
    }
    if (unsendableFieldReason(reason)) {
        bad = "the reason holds characters that cannot be sent";
        return false;
    }
    return true;
}

constexpr std::string_view Help = "- kick NAME [REASON]\n"
                                  "- ban NAME|ADDRESS [SECONDS|- [REASON]]\n"
                                  "- ban-name NAME [SECONDS|- [REASON]]\n"
                                  "- ban-address ADDRESS|RANGE [SECONDS|- [REASON]]\n"
                                  "- unban NAME|ADDRESS\n"
                                  "- unban-name NAME\n"
                                  "- unban-address ADDRESS|RANGE\n"
                                  "- mute NAME [SECONDS]\n"
                                  "- unmute NAME\n"
                                  "- notice TEXT\n"
                                  "- bans\n"
                                  "- stats\n"
                                  "- who\n"
                                  "- help\n";

} // namespace

std::string Control::execute(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    // Fields, each in the lobby's character set.
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        const std::string_view raw =
            line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        std::string bad;
        auto field = fromUtf8(raw, bad);
        if (!field)
            return error("the command holds " + bad);
        fields.push_back(std::move(*field));
        if (tab == std::string_view::npos)
            break;
        start = tab + 1;
    }
    const std::string& command = fields[0];
    const auto arguments = fields.size() - 1;
    const auto wants = [&](std::size_t least, std::size_t most) {
        return arguments >= least && arguments <= most;
    };
    if (command == "help")
        return std::string(Help) + ok("");

    if (command == "who") {
        if (!wants(0, 0))
            return error("who takes no arguments");
        std::string reply;
        std::size_t count = 0;
        const auto& users = lobby_.users();
        for (std::size_t i = 1; i < users.size(); ++i) {
            const Lobby::User& user = users[i];
            if (user.connection == 0)
                continue;
            const auto c = lobby_.connections().find(user.connection);
            reply += "- " + std::to_string(i) + "\t" + toUtf8(user.name) + "\t" +
                     (c != lobby_.connections().end() ? c->second.address : std::string()) + "\t" +
                     stateWord(user.state) + (lobby_.muted(user.name) ? "\tmuted" : "") + "\n";
            ++count;
        }
        return reply + ok(std::to_string(count) + (count == 1 ? " user" : " users"));
    }
    if (command == "bans") {
        if (!wants(0, 0))
            return error("bans takes no arguments");
        std::string reply;
        const auto bans = lobby_.bans();
        for (const Ban& ban : bans)
            reply += std::string("- ") + (ban.kind == BanKind::Name ? "name" : "address") + "\t" +
                     (ban.kind == BanKind::Name ? toUtf8(ban.target) : ban.target) + "\t" +
                     (ban.until ? utcText(*ban.until) : std::string("until lifted")) +
                     (ban.reason.empty() ? std::string() : "\t" + toUtf8(ban.reason)) + "\n";
        return reply + ok(std::to_string(bans.size()) + (bans.size() == 1 ? " ban" : " bans"));
    }
    if (command == "stats") {
        if (!wants(0, 0))
            return error("stats takes no arguments");
        if (!figures_)
            return error("this server keeps no figures");
        std::string reply;
        const std::string text = figures_();
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t end = std::min(text.find('\n', start), text.size());
            reply += "- " + text.substr(start, end - start) + "\n";
            start = end + 1;
        }
        return reply + ok("");
    }
    if (command == "notice") {
        if (!wants(1, 1))
            return error("notice takes one text");
        const std::string& text = fields[1];
        if (const auto reason = unsendableFieldReason(text))
            return error("notice not sent: " + toUtf8(*reason));
        if (std::any_of(text.begin(), text.end(),
                        [](char c) { return isInvisibleCode(static_cast<unsigned char>(c)); }))
            return error("notice not sent: it holds characters nobody can see");
        if (text.find_first_not_of(' ') == std::string::npos)
            return error("notice not sent: it is empty");
        if (text.size() > MaxChatCharacters)
            return error("notice not sent: longer than " + std::to_string(MaxChatCharacters) +
                         " characters");
        lobby_.announce(text);
        return ok("notice sent to " + std::to_string(lobby_.userCount()) + " users");
    }

    if (command == "mute" || command == "unmute") {
        const bool mute = command == "mute";
        if (!wants(1, mute ? 2 : 1))
            return error(command +
                         (mute ? " takes a name and a number of seconds" : " takes one name"));
        const std::string& name = fields[1];
        if (!acceptableName(name))
            return error(inQuotes(name) + " is not a name anyone can log in with");
        if (!mute) {
            if (!lobby_.unmute(name))
                return error(inQuotes(name) + " is not muted");
            return ok("unmuted " + inQuotes(name));
        }
        std::optional<std::chrono::seconds> length;
        if (arguments == 2) {
            std::string bad;
            if (!lengthOf(fields[2], length, bad))
                return error(bad);
        }
        const auto muted = lobby_.mute(name, length);
        if (!muted)
            return error("no user named " + inQuotes(name) +
                         " is logged in (or the most mutes at once are in force)");
        return ok("muted " + inQuotes(muted->name) + " (" + muted->address + ")" +
                  (length ? " for " + std::to_string(length->count()) + " s"
                          : std::string(" until unmuted")));
    }
    if (command == "kick") {
        if (!wants(1, 2))
            return error("kick takes a name and a reason");
        const std::string& name = fields[1];
        std::string bad;
        const std::string reason = arguments == 2 ? fields[2] : std::string();
        if (!acceptableReason(reason, bad))
            return error(bad);
        const auto kicked = lobby_.kick(name, reason);
        if (!kicked)
            return error("no user named " + inQuotes(name) + " is logged in");
        return ok("kicked " + inQuotes(kicked->name) + " (" + kicked->address + ")");
    }

    // ban, ban-name, ban-address; unban, unban-name, unban-address.
    const bool banning = command.rfind("ban", 0) == 0;
    const std::string_view how =
        std::string_view(command).substr(banning ? 3 : std::min<std::size_t>(5, command.size()));
    if ((!banning && command.rfind("unban", 0) != 0) ||
        (how != "" && how != "-name" && how != "-address"))
        return error("unknown command \"" + toUtf8(command) + "\"; help lists the commands");
    if (!wants(1, banning ? 3 : 1))
        return error(command + (banning ? " takes a target, a number of seconds and a reason"
                                        : " takes one target"));
    const std::string& target = fields[1];
    std::optional<BanKind> kind;
    const std::optional<std::string> address =
        BanList::addressTarget(target, lobby_.config().limits.ipv6Prefix);
    if (how == "-name") {
        kind = BanKind::Name;
    } else if (how == "-address") {
        if (!address)
            return error(inQuotes(target) + " is not an IPv4 or IPv6 address or range");
        kind = BanKind::Address;
    } else if (!address) {
        kind = BanKind::Name;
    } else {
        // A name may look like an address: the bare form goes on only when nobody's does.
        const bool nameInUse =
            std::any_of(lobby_.users().begin(), lobby_.users().end(), [&](const Lobby::User& user) {
                return user.connection != 0 && nameKey(user.name) == nameKey(target);
            });
        const auto bans = lobby_.bans();
        const bool nameBanned = std::any_of(bans.begin(), bans.end(), [&](const Ban& ban) {
            return ban.kind == BanKind::Name && nameKey(ban.target) == nameKey(target);
        });
        if (nameInUse || nameBanned)
            return error(inQuotes(target) + " is an address and also the name of a user" +
                         (nameInUse ? " logged in" : " banned") + ": say " + command + " name or " +
                         command + " address");
        kind = BanKind::Address;
    }
    if (*kind == BanKind::Name && !acceptableName(target))
        return error(inQuotes(target) + " is not a name anyone can log in with");
    const std::string& what = *kind == BanKind::Address ? *address : target;
    const std::string shown =
        *kind == BanKind::Address ? "address " + *address : "name " + inQuotes(target);

    if (!banning) {
        std::string notKept;
        if (!lobby_.unban(*kind, what, notKept))
            return error("no ban on " + shown);
        return keptReply("lifted the ban on " + shown, notKept);
    }
    std::optional<std::chrono::seconds> length;
    std::string bad;
    if (arguments >= 2 && fields[2] != "-" && !lengthOf(fields[2], length, bad))
        return error(bad);
    const std::string reason = arguments == 3 ? fields[3] : std::string();
    if (!acceptableReason(reason, bad))
        return error(bad);
    const Lobby::BanResult result = lobby_.ban(*kind, what, length, reason);
    if (result.full)
        return error("the ban list is full (" + std::to_string(BanList::MaxBans) + " bans)");
    std::string text =
        "banned " + shown +
        (length ? " for " + std::to_string(length->count()) + " s" : std::string(" until lifted"));
    for (const Lobby::Affected& dropped : result.dropped)
        text += "; dropped " + inQuotes(dropped.name) + " (" + dropped.address + ")";
    return keptReply(text, result.notKept);
}

} // namespace stonecall::server
