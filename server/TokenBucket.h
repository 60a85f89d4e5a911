#pragma once
// A rate with a burst: each take costs a token, and tokens come back at a rate per second up to
// the burst. A value type: the chat keeps one per address and one per name.

#include <algorithm>
#include <chrono>

namespace stonecall::server {

struct TokenBucket {
    using Clock = std::chrono::steady_clock;

    double tokens = 0;
    Clock::time_point refilled{};

    static TokenBucket full(double burst, Clock::time_point now) { return {burst, now}; }

    // The tokens come back that have since the last refill.
    void refill(Clock::time_point now, double perSecond, double burst)
    {
        const double seconds = std::chrono::duration<double>(now - refilled).count();
        refilled = now;
        tokens = std::min(burst, tokens + std::max(0.0, seconds) * std::max(0.0, perSecond));
    }

    // True and one token fewer when one is there at `now`; a rate of 0 or less limits nothing.
    bool take(Clock::time_point now, double perSecond, double burst)
    {
        if (perSecond <= 0)
            return true;
        refill(now, perSecond, burst);
        if (tokens < 1.0)
            return false;
        tokens -= 1.0;
        return true;
    }
};

} // namespace stonecall::server
