#pragma once
// A rate with a burst: each take costs a token, and tokens come back at a rate per second up to
// the burst. A value type, kept per connection for the chat.

#include <algorithm>
#include <chrono>

namespace stonecall::server {

struct TokenBucket {
    using Clock = std::chrono::steady_clock;

    double tokens = 0;
    Clock::time_point refilled{};

    static TokenBucket full(double burst, Clock::time_point now) { return {burst, now}; }

    // True and one token fewer when one is there at `now`; a rate of 0 or less limits nothing.
    bool take(Clock::time_point now, double perSecond, double burst)
    {
        if (perSecond <= 0)
            return true;
        const double seconds = std::chrono::duration<double>(now - refilled).count();
        refilled = now;
        tokens = std::min(burst, tokens + seconds * perSecond);
        if (tokens < 1.0)
            return false;
        tokens -= 1.0;
        return true;
    }
};

} // namespace stonecall::server
