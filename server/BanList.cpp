#include "BanList.h"

#include "Address.h"
#include "RegularFile.h"
#include "Rules.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

namespace stonecall::server {

namespace {

constexpr std::string_view FileHeader =
    "# stonecall-lobbyd bans, one a line: name or address, the end (seconds since 1970 UTC,\n"
    "# or - for none), the name or the address, then a tab and the reason when there is one.\n"
    "# Written by the server; edit only while it is stopped.\n";

// Reported ignored lines: enough to find the fault, few enough for one log line.
constexpr std::size_t MaxReportedProblems = 5;

// A reason as a ban keeps it: in one line and in the lobby's visible characters.
bool acceptableReason(std::string_view reason)
{
    if (reason.size() > MaxBanReason)
        return false;
    for (const char c : reason)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::optional<WallClock::time_point> parseEnd(std::string_view text)
{
    if (text == "-")
        return WallClock::time_point::max();
    long long seconds = 0;
    // Up to what the clock can hold (the year 2262).
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        seconds = seconds * 10 + (c - '0');
    }
    if (seconds > 9'000'000'000LL)
        return std::nullopt;
    return WallClock::time_point(std::chrono::seconds(seconds));
}

} // namespace

std::string BanList::key(BanKind kind, std::string_view target)
{
    std::string key(1, kind == BanKind::Name ? 'n' : 'a');
    key += kind == BanKind::Name ? nameKey(target) : std::string(target);
    return key;
}

std::optional<std::string> BanList::addressTarget(std::string_view text, int ipv6Prefix)
{
    if (const auto address = parseAddress(text))
        return address->v4 ? address->text()
                           : AddressRange{address->masked(ipv6Prefix), ipv6Prefix}.text();
    const auto range = parseRange(text);
    if (!range)
        return std::nullopt;
    if (range->network.v4 && range->prefix == 32)
        return range->network.text();
    return range->text();
}

bool BanList::covers(std::string_view target, std::string_view address)
{
    const auto peer = parseAddress(address);
    if (!peer)
        return target == address;
    if (const auto range = parseRange(target))
        return range->contains(*peer);
    const auto single = parseAddress(target);
    return single && *single == *peer;
}

void BanList::count(const Ban& ban, int by)
{
    if (ban.kind != BanKind::Address)
        return;
    const auto range = parseRange(ban.target);
    if (range)
        (range->network.v4 ? v4Prefixes_ : v6Prefixes_)[static_cast<std::size_t>(range->prefix)] +=
            by;
    else if (parseAddress(ban.target))
        v4Prefixes_[32] += by;
}

void BanList::put(std::string k, Ban ban)
{
    const auto it = bans_.find(k);
    if (it != bans_.end())
        erase(it);
    count(ban, +1);
    bans_.emplace(std::move(k), std::move(ban));
}

BanList::Bans::iterator BanList::erase(Bans::iterator it)
{
    count(it->second, -1);
    return bans_.erase(it);
}

const Ban* BanList::inForce(Bans::iterator it, WallClock::time_point now)
{
    if (it == bans_.end())
        return nullptr;
    if (it->second.until && *it->second.until <= now) {
        erase(it);
        return nullptr;
    }
    return &it->second;
}

const Ban* BanList::find(BanKind kind, std::string_view target, WallClock::time_point now)
{
    if (kind == BanKind::Name)
        return inForce(bans_.find(key(kind, target)), now);
    const auto peer = parseAddress(target);
    if (!peer) // no address (tests, a transport that does not know): only its own ban
        return inForce(bans_.find(key(kind, target)), now);
    const auto& prefixes = peer->v4 ? v4Prefixes_ : v6Prefixes_;
    for (int prefix = peer->bits(); prefix >= 0; --prefix) {
        if (prefixes[static_cast<std::size_t>(prefix)] == 0)
            continue;
        const std::string text = peer->v4 && prefix == 32
                                     ? peer->text()
                                     : AddressRange{peer->masked(prefix), prefix}.text();
        if (const Ban* ban = inForce(bans_.find(key(kind, text)), now))
            return ban;
    }
    return nullptr;
}

bool BanList::add(Ban ban)
{
    std::string k = key(ban.kind, ban.target);
    if (bans_.count(k) == 0 && bans_.size() >= MaxBans)
        return false;
    put(std::move(k), std::move(ban));
    return true;
}

bool BanList::remove(BanKind kind, std::string_view target)
{
    const auto it = bans_.find(key(kind, target));
    if (it == bans_.end())
        return false;
    erase(it);
    return true;
}

void BanList::prune(WallClock::time_point now)
{
    for (auto it = bans_.begin(); it != bans_.end();)
        it = it->second.until && *it->second.until <= now ? erase(it) : std::next(it);
}

std::vector<Ban> BanList::list(WallClock::time_point now)
{
    prune(now);
    std::vector<Ban> all;
    all.reserve(bans_.size());
    for (const auto& [k, ban] : bans_)
        all.push_back(ban);
    return all;
}

BanFileReport BanList::load(const std::filesystem::path& file, WallClock::time_point now)
{
    BanFileReport report;
    OpenedFile opened = openRegularFile(file.string());
    if (!opened.fd) {
        if (!opened.missing)
            report.error = opened.problem;
        return report;
    }
    LineReader lines(opened.fd.get(), MaxBanLine);
    std::string line;
    bool cut = false;
    std::size_t number = 0;
    const auto ignore = [&](std::string why) {
        ++report.ignored;
        if (report.problems.size() < MaxReportedProblems)
            report.problems.push_back("line " + std::to_string(number) + ": " + std::move(why));
    };
    while (lines.next(line, cut)) {
        ++number;
        if (cut) {
            ignore("longer than " + std::to_string(MaxBanLine) + " bytes");
            continue;
        }
        if (!line.empty() && line.back() == '\r') // an editor's line end
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        // kind, end, then the target, which may hold blanks (a name), then the reason.
        const auto first = line.find(' ');
        const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) {
            ignore("not kind, end and target");
            continue;
        }
        const std::string_view kind = std::string_view(line).substr(0, first);
        const auto end = parseEnd(std::string_view(line).substr(first + 1, second - first - 1));
        Ban ban;
        const auto tab = line.find('\t', second + 1);
        ban.target = line.substr(second + 1, tab == std::string::npos ? tab : tab - second - 1);
        if (tab != std::string::npos)
            ban.reason = line.substr(tab + 1);
        const bool isName = kind == "name";
        ban.kind = isName ? BanKind::Name : BanKind::Address;
        if (!isName && kind != "address") {
            ignore("neither a name nor an address ban");
            continue;
        }
        if (!end) {
            ignore("an end that is neither - nor seconds");
            continue;
        }
        const bool targetFits = isName
                                    ? acceptableName(ban.target)
                                    : !ban.target.empty() && ban.target.size() <= MaxNameLength &&
                                          ban.target.find(' ') == std::string::npos;
        if (!targetFits) {
            ignore(isName ? "a name nobody can log in with" : "an unusable address");
            continue;
        }
        if (!acceptableReason(ban.reason)) {
            ignore("a reason with control codes");
            continue;
        }
        if (*end != WallClock::time_point::max())
            ban.until = *end;
        if (ban.until && *ban.until <= now)
            continue;
        std::string k = key(ban.kind, ban.target);
        if (bans_.count(k) == 0 && bans_.size() >= MaxBans) {
            // Cutting the list here would lose the rest at the next write.
            report.error = file.string() + ": more than the " + std::to_string(MaxBans) +
                           " bans the server keeps; remove some while it is stopped";
            return report;
        }
        put(std::move(k), std::move(ban));
    }
    if (lines.error()) {
        report.error = file.string() + ": " + std::strerror(lines.error());
        return report;
    }
    report.loaded = bans_.size();
    return report;
}

std::optional<std::string> BanList::save(const std::filesystem::path& file) const
{
    // Written aside and renamed, so a crash never leaves half a list.
    std::filesystem::path aside = file;
    aside += ".new";
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    {
        std::ofstream out(aside, std::ios::binary | std::ios::trunc);
        out << FileHeader;
        for (const auto& [k, ban] : bans_) {
            out << (ban.kind == BanKind::Name ? "name " : "address ");
            if (ban.until)
                out << std::chrono::duration_cast<std::chrono::seconds>(
                           ban.until->time_since_epoch())
                           .count();
            else
                out << '-';
            out << ' ' << ban.target;
            if (!ban.reason.empty())
                out << '\t' << ban.reason;
            out << '\n';
        }
        if (!out.flush())
            return "cannot write " + aside.string();
    }
    std::filesystem::rename(aside, file, error);
    if (error)
        return "cannot write " + file.string() + ": " + error.message();
    return std::nullopt;
}

std::string utcText(WallClock::time_point time)
{
    const std::time_t seconds = WallClock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

} // namespace stonecall::server
