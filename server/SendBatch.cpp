#include "SendBatch.h"

#include <cerrno>
#include <system_error>

#include <sys/socket.h>

#include <liburing.h>

namespace stonecall::server {

namespace {

// A non-blocking write made at once: the bytes the kernel took, 0 when it takes none for
// now, -1 when the socket is broken.
template <typename Write> long writtenNow(Write write)
{
    for (;;) {
        const ssize_t written = write();
        if (written >= 0)
            return static_cast<long>(written);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

long fromCompletion(int res)
{
    if (res >= 0)
        return res;
    // What would block, or was interrupted, simply waits for the next write.
    if (res == -EAGAIN || res == -EWOULDBLOCK || res == -EINTR)
        return 0;
    return -1;
}

// A ring that may only send on descriptors already open, so that allowing io_uring widens
// nothing the process could otherwise not do.
bool openRing(io_uring& ring)
{
    if (io_uring_queue_init(SendBatch::Entries, &ring, IORING_SETUP_R_DISABLED) < 0)
        return false;
    bool usable = false;
    if (io_uring_probe* probe = io_uring_get_probe_ring(&ring)) {
        usable = io_uring_opcode_supported(probe, IORING_OP_SEND) &&
                 io_uring_opcode_supported(probe, IORING_OP_SENDMSG);
        io_uring_free_probe(probe);
    }
    io_uring_restriction only[2] = {};
    only[0].opcode = IORING_RESTRICTION_SQE_OP;
    only[0].sqe_op = IORING_OP_SEND;
    only[1].opcode = IORING_RESTRICTION_SQE_OP;
    only[1].sqe_op = IORING_OP_SENDMSG;
    // Through the plain register call: not every packaged library exports the wrappers.
    const auto ringFd = static_cast<unsigned>(ring.ring_fd);
    if (usable)
        usable = io_uring_register(ringFd, IORING_REGISTER_RESTRICTIONS, only, 2) == 0 &&
                 io_uring_register(ringFd, IORING_REGISTER_ENABLE_RINGS, nullptr, 0) == 0;
    if (!usable)
        io_uring_queue_exit(&ring);
    return usable;
}

} // namespace

SendBatch::SendBatch(bool gather)
{
    if (!gather)
        return;
    ring_ = std::make_unique<io_uring>();
    if (!openRing(*ring_))
        ring_.reset();
}

SendBatch::~SendBatch()
{
    if (ring_) {
        finish();
        io_uring_queue_exit(ring_.get());
    }
}

long SendBatch::sendNow(int descriptor, const char* data, std::size_t size)
{
    return writtenNow([&] { return ::send(descriptor, data, size, MSG_NOSIGNAL | MSG_DONTWAIT); });
}

io_uring_sqe* SendBatch::entry()
{
    io_uring_sqe* next = io_uring_get_sqe(ring_.get());
    if (!next) {
        submit();
        next = io_uring_get_sqe(ring_.get());
    }
    ++pending_;
    return next;
}

void SendBatch::add(int descriptor, const char* data, std::size_t size, std::uint64_t tag)
{
    if (!ring_) {
        results_.push_back(Result{tag, sendNow(descriptor, data, size)});
        return;
    }
    io_uring_sqe* send = entry();
    // Never waits inside the kernel: a socket that cannot take it now reports so at once.
    io_uring_prep_send(send, descriptor, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    io_uring_sqe_set_data64(send, tag);
}

void SendBatch::addGathered(int descriptor, const msghdr* header, std::uint64_t tag)
{
    if (!ring_) {
        results_.push_back(Result{tag, writtenNow([&] {
                                      return ::sendmsg(descriptor, header,
                                                       MSG_NOSIGNAL | MSG_DONTWAIT);
                                  })});
        return;
    }
    io_uring_sqe* send = entry();
    io_uring_prep_sendmsg(send, descriptor, header, MSG_NOSIGNAL | MSG_DONTWAIT);
    io_uring_sqe_set_data64(send, tag);
}

std::span<const SendBatch::Result> SendBatch::finish()
{
    if (ring_ && pending_ > 0)
        submit();
    taken_.swap(results_);
    results_.clear();
    return taken_;
}

void SendBatch::submit()
{
    io_uring* ring = ring_.get();
    while (pending_ > 0) {
        // Each send completes within the call (none may wait), so one call sees them all.
        const int entered = io_uring_submit_and_wait(ring, 1);
        if (entered < 0 && entered != -EINTR && entered != -EAGAIN && entered != -EBUSY)
            throw std::system_error(-entered, std::generic_category(), "io_uring_enter");
        unsigned head = 0;
        unsigned seen = 0;
        io_uring_cqe* completion = nullptr;
        io_uring_for_each_cqe(ring, head, completion)
        {
            results_.push_back(
                Result{io_uring_cqe_get_data64(completion), fromCompletion(completion->res)});
            ++seen;
        }
        io_uring_cq_advance(ring, seen);
        pending_ -= seen;
    }
}

} // namespace stonecall::server
