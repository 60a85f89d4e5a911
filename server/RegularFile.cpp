#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace stonecall::server {

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

namespace {

const char* kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

} // namespace

OpenedFile openRegularFile(const std::string& path)
{
    OpenedFile opened;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        opened.missing = errno == ENOENT;
        opened.problem = path + ": " + std::strerror(errno);
        return opened;
    }
    FileDescriptor held(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        opened.problem = path + ": " + std::strerror(errno);
        return opened;
    }
    if (S_ISDIR(st.st_mode)) {
        opened.problem = path + ": " + std::strerror(EISDIR);
        return opened;
    }
    if (!S_ISREG(st.st_mode)) {
        opened.problem = path + ": " + kindOf(st.st_mode) + ", not a regular file";
        return opened;
    }
    opened.fd = std::move(held);
    return opened;
}

std::optional<std::string> readUpTo(int fd, const std::string& path, std::size_t limit,
                                    std::string& text, bool& whole)
{
    text.assign(limit + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            text.clear();
            return path + ": " + std::strerror(error);
        }
        done += static_cast<std::size_t>(n);
        if (n == 0 || done == text.size())
            break;
    }
    whole = done <= limit;
    text.resize(std::min(done, limit));
    return std::nullopt;
}

bool LineReader::fill()
{
    if (atEnd_ || error_)
        return false;
    begin_ = 0;
    end_ = 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error_ = errno;
            return false;
        }
        if (n == 0) {
            atEnd_ = true;
            return false;
        }
        end_ = static_cast<std::size_t>(n);
        return true;
    }
}

bool LineReader::next(std::string& line, bool& cut)
{
    line.clear();
    cut = false;
    bool any = false;
    for (;;) {
        if (begin_ == end_ && !fill())
            return any && !error_;
        any = true;
        const char* start = buffer_ + begin_;
        const auto* feed = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
        const std::size_t length = feed ? static_cast<std::size_t>(feed - start) : end_ - begin_;
        const std::size_t room = maxLine_ - std::min(maxLine_, line.size());
        if (length > room)
            cut = true;
        line.append(start, std::min(length, room));
        begin_ += length;
        if (feed) {
            ++begin_;
            return true;
        }
    }
}

} // namespace stonecall::server
