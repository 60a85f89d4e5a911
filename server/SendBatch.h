#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

struct io_uring;
struct io_uring_sqe;
struct msghdr;

namespace stonecall::server {

// Writes to many sockets with few system calls. A broadcast makes one small write per reader,
// and entering the kernel costs about as much as the write itself: the writes are gathered
// and handed over together through io_uring (a ring that can do nothing but send). Where the
// kernel or a sandbox offers no io_uring, each write is a plain non-blocking send() at once;
// the results are the same either way.
class SendBatch {
public:
    // What became of one write: the bytes the kernel took (0 when it took none for now), or
    // -1 when the connection is broken.
    struct Result {
        std::uint64_t tag;
        long written;
    };

    // Writes handed over in one call; a broadcast to more readers takes several.
    static constexpr unsigned Entries = 256;

    // Without `gather`, or where no ring can be had, every write is a call of its own.
    explicit SendBatch(bool gather = true);
    ~SendBatch();
    SendBatch(const SendBatch&) = delete;
    SendBatch& operator=(const SendBatch&) = delete;

    bool gathers() const { return ring_ != nullptr; }

    // One write at once, outside any batch, with the results' meaning.
    static long sendNow(int descriptor, const char* data, std::size_t size);

    // The bytes must stay where they are until finish() has returned.
    void add(int descriptor, const char* data, std::size_t size, std::uint64_t tag);
    // As add(), for bytes in several pieces: the header, its pieces and their bytes stay
    // where they are until finish() has returned.
    void addGathered(int descriptor, const msghdr* header, std::uint64_t tag);
    // Hands over what waits and returns every write's result since the last call, in no
    // particular order; valid until the next add().
    std::span<const Result> finish();

private:
    ::io_uring_sqe* entry(); // a free entry, handing over a full ring first
    void submit();

    std::unique_ptr<io_uring> ring_;
    unsigned pending_ = 0; // handed to the ring, results not yet taken
    std::vector<Result> results_;
    std::vector<Result> taken_; // what finish() returned last
};

} // namespace stonecall::server
