#pragma once
// Output that waits for the kernel. Messages are framed once into shared blocks; a
// connection's queue holds slices of those blocks, so a broadcast costs one copy of its
// bytes however many connections it goes to, and consecutive messages to one connection
// become one slice (one entry of a gathered write).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace stonecall::server {

// A block of framed messages, freed when no slice and no framer refers to it any more.
class Block {
public:
    static Block* create(std::size_t capacity);
    static void release(Block* block);
    static void retain(Block* block) { ++block->refs_; }

    char* data() { return reinterpret_cast<char*>(this + 1); }
    std::size_t room() const { return capacity_ - used_; }

private:
    friend class Framer;
    Block(std::uint32_t capacity) : capacity_(capacity) {}
    std::uint32_t refs_ = 1;
    std::uint32_t capacity_;
    std::uint32_t used_ = 0;
};

// Bytes of one block; holds a reference to it.
class Slice {
public:
    Slice() = default;
    Slice(Block* block, std::uint32_t offset, std::uint32_t length)
        : block_(block), offset_(offset), length_(length)
    {
        Block::retain(block_);
    }
    Slice(const Slice& other) : block_(other.block_), offset_(other.offset_), length_(other.length_)
    {
        if (block_)
            Block::retain(block_);
    }
    Slice(Slice&& other) noexcept
        : block_(std::exchange(other.block_, nullptr)), offset_(other.offset_),
          length_(std::exchange(other.length_, 0))
    {}
    Slice& operator=(Slice other) noexcept
    {
        std::swap(block_, other.block_);
        std::swap(offset_, other.offset_);
        std::swap(length_, other.length_);
        return *this;
    }
    ~Slice()
    {
        if (block_)
            Block::release(block_);
    }

    bool held() const { return block_ != nullptr; }
    const char* data() const { return block_->data() + offset_; }
    std::size_t size() const { return length_; }
    std::string_view view() const { return {data(), length_}; }
    // The slice continues right after this one in the same block.
    bool continuedBy(const Slice& next) const
    {
        return block_ == next.block_ && offset_ + length_ == next.offset_;
    }
    bool endsLike(const Slice& other) const
    {
        return block_ == other.block_ && offset_ + length_ == other.offset_ + other.length_;
    }
    void extend(std::size_t length) { length_ += static_cast<std::uint32_t>(length); }
    void consume(std::size_t length)
    {
        offset_ += static_cast<std::uint32_t>(length);
        length_ -= static_cast<std::uint32_t>(length);
    }

private:
    Block* block_ = nullptr;
    std::uint32_t offset_ = 0;
    std::uint32_t length_ = 0;
};

// Frames messages (adding the message end) into the current block. The same message sent
// again right after (a broadcast) is not framed again: the same slice comes back.
class Framer {
public:
    explicit Framer(char terminator) : terminator_(terminator) {}
    ~Framer();
    Framer(const Framer&) = delete;
    Framer& operator=(const Framer&) = delete;

    // `fresh`: framed anew even when it is the last message again (a connection that already
    // holds the last copy gets its next one right behind it, so the two merge into one slice).
    const Slice& frame(std::string_view message, bool fresh = false);
    const Slice& last() const { return last_; }
    // The last message framed is `message`.
    bool holdsLast(std::string_view message) const
    {
        return last_.size() == message.size() + 1 &&
               std::memcmp(last_.data(), message.data(), message.size()) == 0;
    }
    // Bytes framed in all.
    std::uint64_t framedBytes() const { return framedBytes_; }

private:
    // Room for `size` bytes at the end of the current block (or a new one); they become last_.
    char* take(std::size_t size);

    char terminator_;
    std::uint64_t framedBytes_ = 0;
    Block* current_ = nullptr;
    Slice last_;
};

// What waits for one connection, oldest first. The common case, one slice (consecutive
// broadcasts merge into one), is kept in place: an idle or lightly used queue allocates nothing.
class OutputQueue {
public:
    void push(const Slice& slice);
    // The newest bytes waiting are the end of `slice`.
    bool endsWith(const Slice& slice) const
    {
        if (slices_.empty())
            return single_.held() && single_.endsLike(slice);
        return slices_.back().endsLike(slice);
    }
    std::size_t bytes() const { return bytes_; }
    std::size_t slices() const
    {
        return slices_.empty() ? (single_.held() ? 1 : 0) : slices_.size() - head_;
    }
    bool empty() const { return bytes_ == 0; }

    // Up to `most` of the oldest pieces, for one gathered write.
    template <class Sink> void peek(std::size_t most, Sink&& sink) const
    {
        if (slices_.empty()) {
            if (single_.held() && most > 0)
                sink(single_.data(), single_.size());
            return;
        }
        for (std::size_t i = head_; i < slices_.size() && most > 0; ++i, --most)
            sink(slices_[i].data(), slices_[i].size());
    }
    // The kernel took `count` bytes from the front.
    void consume(std::size_t count);
    void clear();

private:
    Slice single_;              // the only slice, while slices_ is empty
    std::vector<Slice> slices_; // two or more
    std::size_t head_ = 0;      // slices before it are spent
    std::size_t bytes_ = 0;
};

} // namespace stonecall::server
