#include "OutputQueue.h"

#include <algorithm>
#include <utility>

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
    if (slices_.empty() && !single_.block) {
        single_ = slice;
        return;
    }
    Slice& newest = slices_.empty() ? single_ : slices_.back();
    if (newest.continuedBy(slice)) {
        newest.length += slice.length;
        return;
    }
    if (slices_.empty()) {
        slices_.reserve(4);
        slices_.push_back(std::exchange(single_, Slice()));
    }
    slices_.push_back(slice);
}

std::size_t OutputQueue::gather(std::span<iovec> pieces, std::size_t& bytes) const
{
    std::size_t count = 0;
    bytes = 0;
    const auto take = [&](const Slice& slice) {
        pieces[count++] = iovec{const_cast<char*>(slice.data()), slice.size()};
        bytes += slice.size();
    };
    if (slices_.empty() && single_.block && !pieces.empty())
        take(single_);
    for (std::size_t i = head_; i < slices_.size() && count < pieces.size(); ++i)
        take(slices_[i]);
    return count;
}

void OutputQueue::consume(std::size_t count)
{
    bytes_ -= count;
    const auto take = [](Slice& slice, std::size_t n) {
        slice.offset += static_cast<std::uint32_t>(n);
        slice.length -= static_cast<std::uint32_t>(n);
    };
    if (slices_.empty()) {
        take(single_, count);
        if (single_.length == 0)
            single_ = Slice();
        return;
    }
    while (count > 0) {
        Slice& front = slices_[head_];
        if (count < front.size()) {
            take(front, count);
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
