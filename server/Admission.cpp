#include "Admission.h"

#include "Rules.h"

namespace stonecall::server {

namespace {

constexpr auto LoginWindow = std::chrono::minutes(1);

bool isLoopback(std::string_view address)
{
    return address == "::1" || address.starts_with("127.") || address.starts_with("::ffff:127.");
}

} // namespace

Admission::Admission(const LobbyLimits& limits, BanList& bans,
                     std::function<Clock::time_point()> clock)
    : limits_(limits), bans_(bans), clock_(std::move(clock))
{
    for (const std::string& name : limits_.reservedNames)
        reserved_.insert(nameKey(name));
}

bool Admission::open(std::string_view address)
{
    const int perAddress = limits_.connectionsPerAddress;
    if (perAddress > 0 && limited(address)) {
        const auto it = openPerAddress_.find(address);
        if (it != openPerAddress_.end() && it->second >= perAddress)
            return false;
    }
    if (!address.empty())
        ++openPerAddress_[std::string(address)];
    return true;
}

void Admission::close(std::string_view address)
{
    if (auto open = openPerAddress_.find(address); open != openPerAddress_.end())
        if (--open->second <= 0)
            openPerAddress_.erase(open);
}

std::optional<std::string_view> Admission::refusal(const std::string& address,
                                                   std::string_view name, const std::string& key,
                                                   WallClock::time_point now)
{
    if (!loginAllowed(address))
        return "refused: too many log-ins from this address";
    if (!address.empty() && bans_.find(BanKind::Address, address, now))
        return "refused: banned address";
    if (!acceptableName(name) || name.size() > limits_.maxNameLength)
        return "refused: unusable name";
    if (bans_.find(BanKind::Name, name, now))
        return "refused: banned name";
    if (reserved_.count(key) != 0)
        return "refused: reserved name";
    return std::nullopt;
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
}

bool Admission::limited(std::string_view address) const
{
    return !address.empty() && (limits_.limitLoopback || !isLoopback(address));
}

bool Admission::loginAllowed(const std::string& address)
{
    const int perMinute = limits_.loginsPerAddressPerMinute;
    if (perMinute <= 0 || !limited(address))
        return true;
    const auto now = clock_();
    auto& times = loginsPerAddress_[address];
    while (!times.empty() && now - times.front() >= LoginWindow)
        times.pop_front();
    if (times.size() >= static_cast<std::size_t>(perMinute))
        return false;
    times.push_back(now);
    return true;
}

} // namespace stonecall::server
