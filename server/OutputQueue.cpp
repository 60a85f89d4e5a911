#include "OutputQueue.h"

#include <algorithm>

namespace stonecall::server {

namespace {

// Large enough that a burst of chat lines or a user list shares few blocks, small enough
// that a block kept alive by one slow reader costs little.
constexpr std::size_t BlockSize = 16 * 1024;

} // namespace

const Slice& Framer::frame(std::string_view message, bool fresh)
{
    if (!fresh && holdsLast(message))
        return last_;
    const std::size_t size = message.size() + 1;
    if (!current_ || capacity_ - used_ < size) {
        capacity_ = static_cast<std::uint32_t>(std::max(BlockSize, size));
        current_ = std::make_shared_for_overwrite<char[]>(capacity_);
        used_ = 0;
    }
    char* at = current_.get() + used_;
    std::memcpy(at, message.data(), message.size());
    at[message.size()] = terminator_;
    last_ = Slice{current_, used_, static_cast<std::uint32_t>(size)};
    used_ += static_cast<std::uint32_t>(size);
    framedBytes_ += size;
    return last_;
}

void OutputQueue::push(const Slice& slice)
{
    bytes_ += slice.size();
    if (!slices_.empty() && slices_.back().continuedBy(slice))
        slices_.back().length += slice.length;
    else
        slices_.push_back(slice);
}

std::size_t OutputQueue::gather(std::span<iovec> pieces, std::size_t& bytes) const
{
    std::size_t count = 0;
    bytes = 0;
    for (std::size_t i = head_; i < slices_.size() && count < pieces.size(); ++i, ++count) {
        pieces[count] = iovec{const_cast<char*>(slices_[i].data()), slices_[i].size()};
        bytes += slices_[i].size();
    }
    return count;
}

void OutputQueue::consume(std::size_t count)
{
    bytes_ -= count;
    while (count > 0) {
        Slice& front = slices_[head_];
        if (count < front.size()) {
            front.offset += static_cast<std::uint32_t>(count);
            front.length -= static_cast<std::uint32_t>(count);
            break;
        }
        count -= front.size();
        front = Slice();
        ++head_;
    }
    if (head_ == slices_.size()) {
        clear(); // an idle lobby of thousands keeps no room
    } else if (head_ > 1024 && head_ * 2 > slices_.size()) {
        slices_.erase(slices_.begin(), slices_.begin() + head_);
        head_ = 0;
    }
}

} // namespace stonecall::server
