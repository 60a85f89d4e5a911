#include "RefusalLog.h"

namespace stonecall::server {

namespace {
constexpr auto SummaryEvery = std::chrono::minutes(1);
constexpr std::size_t MaxAddresses = 1024;
} // namespace

bool RefusalLog::logWhole(const std::string& key, Clock::time_point now)
{
    if (auto it = recent_.find(key); it != recent_.end()) {
        if (now - it->second.since < SummaryEvery) {
            ++it->second.more;
            return false;
        }
        summarise(it->first, it->second.more);
        it->second = Refused{now, 0};
        return true;
    }
    if (recent_.size() < MaxAddresses) {
        recent_.emplace(key, Refused{now, 0});
        return true;
    }
    ++elsewhere_;
    return false;
}

void RefusalLog::sweep(Clock::time_point now)
{
    for (auto it = recent_.begin(); it != recent_.end();) {
        if (now - it->second.since < SummaryEvery) {
            ++it;
            continue;
        }
        summarise(it->first, it->second.more);
        it = recent_.erase(it);
    }
    if (elsewhere_ > 0 && now - elsewhereSince_ >= SummaryEvery) {
        note_("refused " + std::to_string(elsewhere_) +
              " more from other addresses in the last minute");
        elsewhere_ = 0;
        elsewhereSince_ = now;
    }
}

void RefusalLog::summarise(std::string_view key, std::uint64_t more)
{
    if (more == 0)
        return;
    note_("refused " + std::to_string(more) + " more from " +
          (key.empty() ? std::string("an unknown address") : std::string(key)) +
          " in the last minute");
}

} // namespace stonecall::server
