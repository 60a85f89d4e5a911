#include "StateFiles.h"

#include "User.h"
#include "wire/Numbers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace stonecall::server {

namespace {

constexpr const char* HighestIndexFile = "highest-index";
constexpr const char* BansFile = "bans";
// The bans file as it was before the server first wrote over lines it could not read.
constexpr const char* EarlierBansFile = "bans.earlier";

} // namespace

void StateFiles::load(BanList& bans, WallClock::time_point now)
{
    if (folder_.empty())
        return;
    const std::filesystem::path folder(folder_);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        note(LogLevel::Warning, "state: cannot make the folder " + folder_ + ": " +
                                    error.message() +
                                    "; bans set from now on are not kept across a restart");
    } else {
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            report_.error = folder_ + ": " + std::strerror(errno);
            return;
        }
        lock_ = FileDescriptor(fd);
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            report_.error = folder_ + ": " +
                            (errno == EWOULDBLOCK ? std::string("another server uses this state "
                                                                "folder")
                                                  : std::string(std::strerror(errno)));
            return;
        }
        if (access(folder_.c_str(), W_OK) != 0)
            note(LogLevel::Warning, "state: the folder " + folder_ + " cannot be written (" +
                                        std::strerror(errno) +
                                        "): bans set from now on are not kept across a restart");
    }

    const BanFileReport found = bans.load(folder / BansFile, now);
    if (found.error) {
        report_.error = *found.error;
        return;
    }
    std::string line = "state: " + std::to_string(found.loaded) +
                       (found.loaded == 1 ? " ban" : " bans") + " loaded";
    if (found.ignored > 0) {
        keepEarlierBans_ = true;
        line += ", " + std::to_string(found.ignored) + " lines ignored:";
        for (std::size_t i = 0; i < found.problems.size(); ++i)
            line += (i ? "; " : " ") + found.problems[i];
        if (found.ignored > found.problems.size())
            line += "; and " + std::to_string(found.ignored - found.problems.size()) + " more";
        line += std::string(" (kept as ") + EarlierBansFile + " at the first change)";
    }
    note(found.ignored > 0 ? LogLevel::Warning : LogLevel::Info, std::move(line));
    loadHighestIndex();
}

void StateFiles::loadHighestIndex()
{
    const std::string path = (std::filesystem::path(folder_) / HighestIndexFile).string();
    OpenedFile opened = openRegularFile(path);
    if (!opened.fd) {
        if (!opened.missing)
            report_.error = opened.problem;
        return;
    }
    std::string text;
    bool whole = false;
    if (auto problem = readUpTo(opened.fd.get(), path, 16, text, whole)) {
        report_.error = std::move(*problem);
        return;
    }
    if (const auto feed = text.find('\n'); feed != std::string::npos)
        text.resize(feed);
    const auto value = strictNumber<std::int32_t>(text);
    if (value && *value >= 1 && *value <= MaxUsersLimit)
        savedHighestIndex_ = static_cast<std::int16_t>(*value);
    else
        // The mark only frees entries in user lists: a lost one costs a client stale rows.
        note(LogLevel::Warning, std::string("state: ignoring ") + HighestIndexFile +
                                    ", which holds no index from 1 to " +
                                    std::to_string(MaxUsersLimit));
}

std::string StateFiles::saveBans(const BanList& bans)
{
    if (folder_.empty())
        return std::string(NoStateFolder);
    if (report_.error)
        return "the state folder was not read at start";
    const std::filesystem::path file = std::filesystem::path(folder_) / BansFile;
    if (keepEarlierBans_) {
        std::error_code error;
        std::filesystem::rename(file, std::filesystem::path(folder_) / EarlierBansFile, error);
        if (error && error != std::errc::no_such_file_or_directory) {
            const std::string why = "cannot keep the earlier " + file.string() + " as " +
                                    EarlierBansFile + ": " + error.message();
            floor_.note(0, LogLevel::Error, "state: " + why);
            return why;
        }
        keepEarlierBans_ = false;
        floor_.note(0, LogLevel::Warning,
                    std::string("state: the earlier bans file, with the lines that were no "
                                "ban, kept as ") +
                        EarlierBansFile);
    }
    const auto error = bans.save(file);
    if (!error)
        return {};
    floor_.note(0, LogLevel::Error, "state: " + *error);
    return *error;
}

void StateFiles::saveHighestIndex(std::int16_t highest)
{
    if (folder_.empty() || report_.error || highest <= savedHighestIndex_)
        return;
    // Written aside and renamed, so a crash never leaves half a number.
    const std::filesystem::path folder(folder_);
    const std::filesystem::path target = folder / HighestIndexFile;
    const std::filesystem::path aside = folder / (std::string(HighestIndexFile) + ".new");
    std::error_code error;
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
