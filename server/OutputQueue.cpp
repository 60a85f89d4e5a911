#include "OutputQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace stonecall::server {

namespace {

// Large enough that a burst of chat lines or a user list shares few blocks, small enough
// that a block kept alive by one slow reader costs little.
constexpr std::size_t BlockSize = 16 * 1024;

} // namespace

Block* Block::create(std::size_t capacity)
{
    void* memory = ::operator new(sizeof(Block) + capacity);
    return new (memory) Block(static_cast<std::uint32_t>(capacity));
}

void Block::release(Block* block)
{
    if (--block->refs_ == 0) {
        block->~Block();
        ::operator delete(block);
    }
}

Framer::~Framer()
{
    if (current_)
        Block::release(current_);
}

const Slice& Framer::frame(std::string_view message, bool fresh)
{
    if (!fresh && holdsLast(message))
        return last_;
    char* at = take(message.size() + 1);
    std::memcpy(at, message.data(), message.size());
    at[message.size()] = terminator_;
    return last_;
}

char* Framer::take(std::size_t size)
{
    if (!current_ || current_->room() < size) {
        if (current_)
            Block::release(current_);
        current_ = Block::create(std::max(BlockSize, size));
    }
    char* at = current_->data() + current_->used_;
    last_ = Slice(current_, current_->used_, static_cast<std::uint32_t>(size));
    current_->used_ += static_cast<std::uint32_t>(size);
    framedBytes_ += size;
    return at;
}

void OutputQueue::push(const Slice& slice)
{
    bytes_ += slice.size();
    if (slices_.empty()) {
        if (!single_.held()) {
            single_ = slice;
            return;
        }
        if (single_.continuedBy(slice)) {
            single_.extend(slice.size());
            return;
        }
        slices_.reserve(4);
        slices_.push_back(std::move(single_));
        single_ = Slice();
        slices_.push_back(slice);
        return;
    }
    if (slices_.back().continuedBy(slice)) {
        slices_.back().extend(slice.size());
        return;
    }
    slices_.push_back(slice);
}

void OutputQueue::consume(std::size_t count)
{
    bytes_ -= count;
    if (slices_.empty()) {
        single_.consume(count);
        if (single_.size() == 0)
            single_ = Slice();
        return;
    }
    while (count > 0) {
        Slice& front = slices_[head_];
        if (count < front.size()) {
            front.consume(count);
            break;
        }
        count -= front.size();
        front = Slice();
        ++head_;
    }
    if (head_ == slices_.size()) {
        // Back to one slice or none: an idle lobby of thousands keeps no room.
        std::vector<Slice>().swap(slices_);
        head_ = 0;
    } else if (head_ > 1024 && head_ * 2 > slices_.size()) {
        slices_.erase(slices_.begin(), slices_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

void OutputQueue::clear()
{
    single_ = Slice();
    std::vector<Slice>().swap(slices_);
    head_ = 0;
    bytes_ = 0;
}

} // namespace stonecall::server
