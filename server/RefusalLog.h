#pragma once
// Refused connections and log-ins in the operator's log without letting a peer flood it: the
// first refusal from an address in a minute is logged whole, the rest are counted and said in
// one line when the minute is over. A bounded number of addresses is told apart; refusals
// from the others are summed up together.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace stonecall::server {

class RefusalLog {
public:
    using Clock = std::chrono::steady_clock;
    using Note = std::function<void(const std::string&)>;

    explicit RefusalLog(Note note) : note_(std::move(note)) {}

    // Whether a refusal from `key` now is logged whole; when not, it is counted.
    bool logWhole(const std::string& key, Clock::time_point now);
    // Says the counts whose minute is over.
    void sweep(Clock::time_point now);

private:
    void summarise(std::string_view key, std::uint64_t more);

    struct Refused {
        Clock::time_point since;
        std::uint64_t more = 0;
    };
    Note note_;
    std::map<std::string, Refused, std::less<>> recent_;
    std::uint64_t elsewhere_ = 0; // past the table's bound
    Clock::time_point elsewhereSince_;
};

} // namespace stonecall::server
