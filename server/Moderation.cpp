#include "Moderation.h"

#include "Notices.h"
#include "Rules.h"

#include <utility>

namespace stonecall::server {

namespace {

// Mutes are few and the operator's; the bound keeps a runaway script from filling memory.
constexpr std::size_t MaxMutes = 10000;

// A length as players read it: " for 10 minutes".
std::string spokenLength(std::optional<std::chrono::seconds> length)
{
    if (!length)
        return {};
    const long long seconds = length->count();
    const std::pair<long long, const char*> units[] = {
        {86400, "day"}, {3600, "hour"}, {60, "minute"}, {1, "second"}};
    for (const auto& [size, unit] : units) {
        if (seconds % size == 0 || size == 1) {
            const long long count = seconds / size;
            return " for " + std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
        }
    }
    return {};
}

// The operator's reason after a notice that ends in a full stop.
std::string withReason(std::string_view notice, std::string_view reason)
{
    return reason.empty() ? std::string(notice)
                          : std::string(notice) + " Reason: " + std::string(reason);
}

std::string banned(BanKind kind, std::string_view target)
{
    return kind == BanKind::Name ? "name \"" + std::string(target) + "\""
                                 : "address " + std::string(target);
}

} // namespace

std::int16_t Moderation::findUser(std::string_view name) const
{
    const std::string key = nameKey(name);
    for (std::size_t i = 1; i < users_.size(); ++i)
        if (users_[i].connection != 0 && nameKey(users_[i].name) == key)
            return static_cast<std::int16_t>(i);
    return 0;
}

Moderation::Affected Moderation::sendAway(std::int16_t index, std::string_view notice,
                                          std::string_view why)
{
    Affected affected{users_[index].name, std::string(floor_.address(index))};
    floor_.tell(index, noticeMessage(notice));
    floor_.note(index, LogLevel::Info, why);
    floor_.sendAway(index);
    return affected;
}

std::optional<Moderation::Affected> Moderation::kick(std::string_view name, std::string_view reason)
{
    const std::int16_t index = findUser(name);
    if (index == 0)
        return std::nullopt;
    return sendAway(index, withReason(notice::Kicked, reason), "kicked by the operator");
}

Moderation::BanResult Moderation::ban(BanKind kind, std::string_view target,
                                      std::optional<std::chrono::seconds> length,
                                      std::string_view reason)
{
    BanResult result;
    Ban entry{kind, std::string(target), std::nullopt, std::string(reason.substr(0, MaxBanReason))};
    if (length)
        entry.until = clocks_.wall() + *length;
    if (!bans_.add(entry)) {
        result.full = true;
        floor_.note(0, LogLevel::Warning,
                    "operator: ban on " + banned(kind, entry.target) + " refused: the list holds " +
                        std::to_string(BanList::MaxBans) + " bans, the most it keeps");
        return result;
    }
    floor_.note(0, LogLevel::Info,
                "operator: banned " + banned(kind, entry.target) +
                    (entry.until ? " until " + utcText(*entry.until) : " until lifted"));
    result.notKept = files_.saveBans(bans_);
    const std::string told =
        withReason(std::string(notice::Banned) + spokenLength(length) + ".", entry.reason);
    const std::string why = "dropped: banned " +
                            std::string(kind == BanKind::Name ? "name" : "address") +
                            " by the operator";
    if (kind == BanKind::Name) {
        if (const std::int16_t index = findUser(target))
            result.dropped.push_back(sendAway(index, told, why));
        return result;
    }
    for (std::size_t i = 1; i < users_.size(); ++i) {
        const auto index = static_cast<std::int16_t>(i);
        if (users_[i].connection != 0 && BanList::covers(entry.target, floor_.address(index)))
            result.dropped.push_back(sendAway(index, told, why));
    }
    return result;
}

bool Moderation::unban(BanKind kind, std::string_view target, std::string& notKept)
{
    if (!bans_.remove(kind, target))
        return false;
    floor_.note(0, LogLevel::Info, "operator: lifted the ban on " + banned(kind, target));
    notKept = files_.saveBans(bans_);
    return true;
}

std::optional<Moderation::Affected> Moderation::mute(std::string_view name,
                                                     std::optional<std::chrono::seconds> length)
{
    const std::int16_t index = findUser(name);
    if (index == 0)
        return std::nullopt;
    const auto now = clocks_.steady();
    std::erase_if(mutes_, [&](const auto& entry) { return entry.second && *entry.second <= now; });
    std::string key = nameKey(users_[index].name);
    if (mutes_.size() >= MaxMutes && mutes_.count(key) == 0)
        return std::nullopt;
    mutes_[std::move(key)] =
        length ? std::optional(now + *length) : std::optional<Clock::time_point>();
    users_[index].toldMuted = true;
    floor_.tell(index, noticeMessage(std::string(notice::Muted) + spokenLength(length) +
                                     std::string(notice::MutedWhy)));
    floor_.note(index, LogLevel::Info,
                "muted by the operator" +
                    (length ? " for " + std::to_string(length->count()) + " s" : std::string()));
    return Affected{users_[index].name, std::string(floor_.address(index))};
}

bool Moderation::unmute(std::string_view name)
{
    const std::string key = nameKey(name);
    const auto it = mutes_.find(key);
    if (it == mutes_.end())
        return false;
    const bool inForce = !it->second || *it->second > clocks_.steady();
    mutes_.erase(it);
    if (!inForce)
        return false;
    const std::int16_t index = findUser(name);
    if (index != 0) {
        users_[index].toldMuted = false;
        floor_.tell(index, noticeMessage(notice::Unmuted));
    }
    floor_.note(index, LogLevel::Info,
                index ? std::string("unmuted by the operator")
                      : "operator: unmuted \"" + std::string(name) + "\"");
    return true;
}

bool Moderation::muted(std::string_view name)
{
    const auto it = mutes_.find(nameKey(name));
    if (it == mutes_.end())
        return false;
    if (it->second && *it->second <= clocks_.steady()) {
        mutes_.erase(it);
        return false;
    }
    return true;
}

bool Moderation::silenced(std::int16_t index)
{
    if (!muted(users_[index].name))
        return false;
    if (!std::exchange(users_[index].toldMuted, true))
        floor_.tell(index,
                    noticeMessage(std::string(notice::Muted) + std::string(notice::MutedWhy)));
    floor_.note(index, LogLevel::Debug, "chat while muted: not relayed");
    return true;
}

} // namespace stonecall::server
