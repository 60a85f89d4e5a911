#include "Admission.h"

#include "Address.h"
#include "Rules.h"

#include <algorithm>
#include <vector>

namespace stonecall::server {

namespace {

constexpr auto LoginWindow = std::chrono::minutes(1);

// Allowances of users gone kept at most; beyond them the fullest go first.
constexpr std::size_t MaxParkedAllowances = 4096;

std::string nameEntry(const std::string& nameKey)
{
    return "n" + nameKey;
}

std::string addressEntry(const std::string& key)
{
    return "a" + key;
}

} // namespace

Admission::Admission(const LobbyLimits& limits, BanList& bans,
                     std::function<Clock::time_point()> clock)
    : limits_(limits), bans_(bans), clock_(std::move(clock))
{
    for (const std::string& name : limits_.reservedNames)
        reserved_.insert(nameKey(name));
}

std::string Admission::keyOf(std::string_view address) const
{
    return addressKey(address, limits_.ipv6Prefix);
}

std::optional<RefusalText> Admission::open(std::string_view address, const std::string& key)
{
    if (address.empty())
        return std::nullopt;
    if (limited(address)) {
        if (const auto it = openPerAddress_.find(key); it != openPerAddress_.end()) {
            const int perAddress = limits_.connectionsPerAddress;
            const int pending = limits_.pendingPerAddress;
            if (perAddress > 0 && it->second.open >= perAddress)
                return refused::TooManyConnections;
            if (pending > 0 && it->second.pending >= pending)
                return refused::TooManyPending;
        }
    }
    Open& counts = openPerAddress_[key];
    ++counts.open;
    ++counts.pending;
    return std::nullopt;
}

void Admission::loggedIn(const std::string& key)
{
    if (const auto it = openPerAddress_.find(key); it != openPerAddress_.end())
        it->second.pending = std::max(0, it->second.pending - 1);
}

void Admission::close(const std::string& key, bool pending)
{
    const auto it = openPerAddress_.find(key);
    if (it == openPerAddress_.end())
        return;
    if (pending)
        it->second.pending = std::max(0, it->second.pending - 1);
    if (--it->second.open <= 0)
        openPerAddress_.erase(it);
}

std::uint64_t Admission::arrived(ConnectionId id)
{
    pending_.emplace(++arrivals_, Pending{id, clock_()});
    return arrivals_;
}

std::optional<ConnectionId> Admission::oldestPending() const
{
    if (pending_.empty())
        return std::nullopt;
    return pending_.begin()->second.id;
}

std::optional<ConnectionId> Admission::overdue() const
{
    if (limits_.loginDeadline.count() <= 0 || pending_.empty() ||
        clock_() - pending_.begin()->second.since < limits_.loginDeadline)
        return std::nullopt;
    return pending_.begin()->second.id;
}

std::optional<RefusalText> Admission::refusal(std::string_view address, const std::string& key,
                                              std::string_view name, const std::string& nameKey,
                                              WallClock::time_point now)
{
    if (!loginAllowed(address, key))
        return refused::TooManyLogins;
    if (const Ban* ban = address.empty() ? nullptr : bans_.find(BanKind::Address, address, now)) {
        RefusalText why = refused::BannedAddress;
        why.banReason = ban->reason;
        return why;
    }
    if (!acceptableName(name) || name.size() > limits_.maxNameLength)
        return refused::UnusableName;
    // The operator's tools take such a name for an address: it could not be banned, and a
    // ban of it would hit whoever has that address.
    if (looksLikeAddress(name))
        return refused::AddressName;
    if (const Ban* ban = bans_.find(BanKind::Name, name, now)) {
        RefusalText why = refused::BannedName;
        why.banReason = ban->reason;
        return why;
    }
    if (reserved_.count(nameKey) != 0)
        return refused::ReservedName;
    return std::nullopt;
}

void Admission::hold(const std::string& entry)
{
    auto [it, fresh] = allowances_.try_emplace(entry);
    if (fresh)
        it->second.bucket = TokenBucket::full(limits_.chatBurst, clock_());
    ++it->second.holders;
}

void Admission::release(const std::string& entry)
{
    if (const auto it = allowances_.find(entry); it != allowances_.end())
        it->second.holders = std::max(0, it->second.holders - 1);
}

void Admission::joined(const std::string& nameKey, std::string_view address, const std::string& key)
{
    hold(nameEntry(nameKey));
    if (limited(address))
        hold(addressEntry(key));
}

void Admission::left(const std::string& nameKey, std::string_view address, const std::string& key)
{
    release(nameEntry(nameKey));
    if (limited(address))
        release(addressEntry(key));
}

bool Admission::chat(const std::string& nameKey, std::string_view address, const std::string& key)
{
    const double rate = limits_.chatLinesPerSecond;
    const double burst = limits_.chatBurst;
    if (rate <= 0)
        return true;
    const auto now = clock_();
    TokenBucket* buckets[2] = {};
    int count = 0;
    if (const auto it = allowances_.find(nameEntry(nameKey)); it != allowances_.end())
        buckets[count++] = &it->second.bucket;
    if (limited(address))
        if (const auto it = allowances_.find(addressEntry(key)); it != allowances_.end())
            buckets[count++] = &it->second.bucket;
    for (int i = 0; i < count; ++i) {
        buckets[i]->refill(now, rate, burst);
        if (buckets[i]->tokens < 1.0)
            return false;
    }
    for (int i = 0; i < count; ++i)
        buckets[i]->tokens -= 1.0;
    return true;
}

void Admission::forgetOld()
{
    const auto now = clock_();
    for (auto it = loginsPerAddress_.begin(); it != loginsPerAddress_.end();) {
        auto& times = it->second;
        while (!times.empty() && now - times.front() >= LoginWindow)
            times.pop_front();
        it = times.empty() ? loginsPerAddress_.erase(it) : std::next(it);
    }

    // An allowance of nobody in the lobby that is full again is the same as a fresh one.
    const double rate = limits_.chatLinesPerSecond;
    const double burst = limits_.chatBurst;
    std::vector<std::pair<double, std::string>> parked;
    for (auto it = allowances_.begin(); it != allowances_.end();) {
        Allowance& allowance = it->second;
        if (allowance.holders > 0) {
            ++it;
            continue;
        }
        allowance.bucket.refill(now, rate, burst);
        if (rate <= 0 || allowance.bucket.tokens >= burst) {
            it = allowances_.erase(it);
            continue;
        }
        parked.emplace_back(allowance.bucket.tokens, it->first);
        ++it;
    }
    if (parked.size() <= MaxParkedAllowances)
        return;
    const auto excess = static_cast<std::ptrdiff_t>(parked.size() - MaxParkedAllowances);
    std::nth_element(parked.begin(), parked.begin() + excess, parked.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto it = parked.begin(); it != parked.begin() + excess; ++it)
        allowances_.erase(it->second);
}

bool Admission::limited(std::string_view address) const
{
    return !address.empty() && (limits_.limitLoopback || !isLoopbackAddress(address));
}

bool Admission::loginAllowed(std::string_view address, const std::string& key)
{
    const int perMinute = limits_.loginsPerAddressPerMinute;
    if (perMinute <= 0 || !limited(address))
        return true;
    const auto now = clock_();
    auto& times = loginsPerAddress_[key];
    while (!times.empty() && now - times.front() >= LoginWindow)
        times.pop_front();
    if (times.size() >= static_cast<std::size_t>(perMinute))
        return false;
    times.push_back(now);
    return true;
}

} // namespace stonecall::server
