#pragma once

#include <memory>

struct io_uring;
struct msghdr;

namespace stonecall::server {

// Writes to many sockets with few system calls. A broadcast makes one small write per reader,
// and entering the kernel costs about as much as the write itself: the writes are gathered
// and handed over together through io_uring (a ring that can do nothing but send). Where the
// kernel or a sandbox offers no io_uring, each write is a plain non-blocking send at once;
// the results are the same either way.
class SendBatch {
public:
    // Writes handed over in one call; a broadcast to more readers takes several.
    static constexpr unsigned Entries = 256;

    // Without `gather`, or where no ring can be had, every write is a call of its own.
    explicit SendBatch(bool gather = true);
    ~SendBatch();
    SendBatch(const SendBatch&) = delete;
    SendBatch& operator=(const SendBatch&) = delete;

    bool gathers() const { return ring_ != nullptr; }

    // One non-blocking write at once: the bytes the kernel took, 0 when it takes none for
    // now, -1 when the connection is broken.
    static long sendNow(int descriptor, const msghdr& header);
    // The same, its result in `written` once finish() has returned. Until then the header,
    // its pieces, their bytes and `written` stay where they are.
    void add(int descriptor, const msghdr& header, long& written);
    void finish();

private:
    void submit();

    std::unique_ptr<io_uring> ring_;
    unsigned pending_ = 0; // handed to the ring, results not yet taken
};

} // namespace stonecall::server
