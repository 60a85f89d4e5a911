#pragma once
// Output that waits for the kernel. Messages are framed once into shared blocks; a
// connection's queue holds slices of those blocks, so a broadcast costs one copy of its
// bytes however many connections it goes to, and consecutive messages to one connection
// become one slice (one entry of a gathered write).

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace stonecall::server {

// Bytes of one block, which lives as long as a slice or the framer refers to it.
struct Slice {
    std::shared_ptr<char[]> block;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;

    const char* data() const { return block.get() + offset; }
    std::size_t size() const { return length; }
    bool continuedBy(const Slice& next) const
    {
        return block == next.block && offset + length == next.offset;
    }
    bool endsLike(const Slice& other) const
    {
        return block == other.block && offset + length == other.offset + other.length;
    }
};

// Frames messages (adding the message end) into the current block. The same message sent
// again right after (a broadcast) is not framed again: the same slice comes back.
class Framer {
public:
    explicit Framer(char terminator) : terminator_(terminator) {}

    // `fresh`: framed anew even when it is the last message again (a connection that already
    // holds the last copy gets its next one right behind it, so the two merge into one slice).
    const Slice& frame(std::string_view message, bool fresh = false);
    const Slice& last() const { return last_; }
    std::uint64_t framedBytes() const { return framedBytes_; }
    // Lets go of the current block, which an idle lobby need not keep.
    void release()
    {
        current_.reset();
        last_ = Slice();
    }

private:
    bool holdsLast(std::string_view message) const
    {
        return last_.length == message.size() + 1 &&
               std::memcmp(last_.data(), message.data(), message.size()) == 0;
    }

    char terminator_;
    std::uint64_t framedBytes_ = 0;
    std::uint32_t used_ = 0;
    std::uint32_t capacity_ = 0;
    std::shared_ptr<char[]> current_;
    Slice last_;
};

// What waits for one connection, oldest first. The common case, one slice (consecutive
// broadcasts merge into one), is kept in place: no allocation, and a broadcast's delivery
// touches no memory beyond the connection itself.
class OutputQueue {
public:
    void push(const Slice& slice);
    bool endsWith(const Slice& slice) const
    {
        if (slices_.empty())
            return single_.block && single_.endsLike(slice);
        return slices_.back().endsLike(slice);
    }
    std::size_t bytes() const { return bytes_; }
    bool empty() const { return bytes_ == 0; }
    // The oldest pieces, as many as fit, for one gathered write; how many, and their bytes.
    std::size_t gather(std::span<iovec> pieces, std::size_t& bytes) const;
    void consume(std::size_t count); // the kernel took that many from the front
    void clear() { *this = OutputQueue(); }

private:
    Slice single_;              // the only slice, while slices_ is empty
    std::vector<Slice> slices_; // two or more
    std::uint32_t head_ = 0;    // slices before it are spent
    std::size_t bytes_ = 0;
};

} // namespace stonecall::server
