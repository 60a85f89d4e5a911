#include "StateFiles.h"

#include "User.h"
#include "wire/Numbers.h"

#include <filesystem>
#include <fstream>

namespace stonecall::server {

namespace {

constexpr const char* HighestIndexFile = "highest-index";
constexpr const char* BansFile = "bans";

} // namespace

std::int16_t StateFiles::load(BanList& bans, WallClock::time_point now)
{
    if (folder_.empty())
        return 0;
    const int unreadable = bans.load(std::filesystem::path(folder_) / BansFile, now);
    if (unreadable > 0)
        floor_.note(0, LogLevel::Warning,
                    "state: ignoring " + std::to_string(unreadable) + " unreadable lines of " +
                        BansFile);
    std::ifstream in(std::filesystem::path(folder_) / HighestIndexFile);
    std::string text;
    if (in && std::getline(in, text)) {
        const auto value = strictNumber<std::int32_t>(text);
        if (value && *value >= 1 && *value <= MaxUsersLimit)
            savedHighestIndex_ = static_cast<std::int16_t>(*value);
        else
            floor_.note(0, LogLevel::Warning,
                        "state: ignoring an unreadable " + std::string(HighestIndexFile));
    }
    return savedHighestIndex_;
}

std::string StateFiles::saveBans(const BanList& bans)
{
    if (folder_.empty())
        return "no state-dir";
    const auto error = bans.save(std::filesystem::path(folder_) / BansFile);
    if (!error)
        return {};
    floor_.note(0, LogLevel::Error, "state: " + *error);
    return *error;
}

void StateFiles::saveHighestIndex(std::int16_t highest)
{
    if (folder_.empty() || highest <= savedHighestIndex_)
        return;
    // Written aside and renamed, so a crash never leaves half a number.
    const std::filesystem::path folder(folder_);
    const std::filesystem::path target = folder / HighestIndexFile;
    const std::filesystem::path aside = folder / (std::string(HighestIndexFile) + ".new");
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    {
        std::ofstream out(aside, std::ios::trunc);
        out << highest << '\n';
        if (!out.flush()) {
            floor_.note(0, LogLevel::Error, "state: cannot write " + aside.string());
            return;
        }
    }
    std::filesystem::rename(aside, target, error);
    if (error) {
        floor_.note(0, LogLevel::Error,
                    "state: cannot write " + target.string() + ": " + error.message());
        return;
    }
    savedHighestIndex_ = highest;
}

} // namespace stonecall::server
