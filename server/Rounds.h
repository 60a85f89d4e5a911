#pragma once
// When what the lobby says is written. The answer to a request goes out at the end of the pass
// that handled it. A broadcast goes at once when nothing is being answered (a chat line in a
// quiet lobby, a notice, a departure); while requests are answered (a lobby filling up),
// broadcasts wait for a round, so each reader gets one write for the log-ins of many passes
// where it would get one per pass. A round is due a few times what the last one took after
// its oldest broadcast, so rounds take a small share of the time.

#include "User.h"

#include <algorithm>
#include <chrono>

namespace stonecall::server {

class Rounds {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration MinDelay = std::chrono::milliseconds(1);
    static constexpr Clock::duration MaxDelay = std::chrono::milliseconds(1000);
    static constexpr int DelayFactor = 4;

    void beginPass() { pass_ = Pass::Idle; }
    // The lobby handles input of `id`; done(): it has handled this portion.
    void handling(ConnectionId id)
    {
        handled_ = id;
        if (pass_ == Pass::Idle)
            pass_ = Pass::Quiet;
    }
    void done() { handled_ = 0; }
    // Whose input is being handled; 0: none (a timer, the operator, a departure).
    ConnectionId handled() const { return handled_; }

    // An answer: a message to the connection whose input is handled, other than its copy of
    // a broadcast.
    void toSender() { pass_ = Pass::Answering; }
    // A message to anyone else.
    void toOther()
    {
        if (handled_ == 0)
            roundNow_ = true;
    }
    // A broadcast may go straight to a reader with nothing waiting.
    bool atOnce() const { return handled_ != 0 && pass_ != Pass::Answering; }

    // The first broadcast since the last round waits from `now`.
    void waiting(Clock::time_point now) { since_ = now; }
    Clock::time_point due() const
    {
        return since_ + std::clamp<Clock::duration>(DelayFactor * cost_, MinDelay, MaxDelay);
    }
    // At the end of a pass, with broadcasts waiting.
    bool roundDue(Clock::time_point now) const
    {
        return roundNow_ || pass_ == Pass::Quiet || now >= due();
    }
    // A round is due at once, whatever the pass answered.
    bool urgent() const { return roundNow_; }
    void endPass() { roundNow_ = false; }
    void roundTook(Clock::duration cost) { cost_ = cost; }

private:
    enum class Pass : std::uint8_t {
        Idle,      // no input handled
        Quiet,     // input handled, nothing answered
        Answering, // a request was answered
    };
    Pass pass_ = Pass::Idle;
    ConnectionId handled_ = 0;
    bool roundNow_ = false; // a broadcast made outside input
    Clock::time_point since_;
    Clock::duration cost_{};
};

} // namespace stonecall::server
