#pragma once
// Files the server reads (state, configuration, message of the day) are taken only when they
// are regular files: opened without blocking, so a FIFO or a device put in a file's place
// cannot hold the server's one loop, and refused once a look shows what they are. Reading is
// bounded, so a huge file costs no more memory than a normal one.

#include <cstddef>
#include <optional>
#include <string>

namespace stonecall::server {

// A descriptor, closed when this goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

struct OpenedFile {
    FileDescriptor fd;
    bool missing = false; // no such file (ENOENT)
    std::string problem;  // why it was not opened, the path first; empty when it was
};

OpenedFile openRegularFile(const std::string& path);

// Up to `limit` bytes of the file, or the message of a read error (the path first). `whole`
// says whether the end was reached within the limit.
std::optional<std::string> readUpTo(int fd, const std::string& path, std::size_t limit,
                                    std::string& text, bool& whole);

// The lines of a file one by one, each at most `maxLine` bytes: the rest of a longer line is
// skipped unread into memory.
class LineReader {
public:
    LineReader(int fd, std::size_t maxLine) : fd_(fd), maxLine_(maxLine) {}

    // The next line without its line feed; false at the end or at a read error (error()).
    // `cut` tells that the line was longer than the bound.
    bool next(std::string& line, bool& cut);
    int error() const { return error_; }

private:
    bool fill();

    int fd_;
    std::size_t maxLine_;
    char buffer_[16384];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool atEnd_ = false;
    int error_ = 0;
};

} // namespace stonecall::server
