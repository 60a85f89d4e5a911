#include "SendBatch.h"

#include <cerrno>
#include <system_error>

#include <sys/socket.h>

#include <liburing.h>

namespace stonecall::server {

namespace {

constexpr int Flags = MSG_NOSIGNAL | MSG_DONTWAIT; // never waits, not even inside the ring

long fromResult(long result, int error)
{
    if (result >= 0)
        return result;
    // What would block, or was interrupted, simply waits for the next write.
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR ? 0 : -1;
}

// A ring that may only send on descriptors already open, so that allowing io_uring widens
// nothing the process could otherwise not do. A kernel that takes restrictions has both sends.
bool openRing(io_uring& ring)
{
    if (io_uring_queue_init(SendBatch::Entries, &ring, IORING_SETUP_R_DISABLED) < 0)
        return false;
    io_uring_restriction only[2] = {};
    for (io_uring_restriction& one : only)
        one.opcode = IORING_RESTRICTION_SQE_OP;
    only[0].sqe_op = IORING_OP_SEND;
    only[1].sqe_op = IORING_OP_SENDMSG;
    // Through the plain register call: not every packaged library exports the wrappers.
    const auto ringFd = static_cast<unsigned>(ring.ring_fd);
    if (io_uring_register(ringFd, IORING_REGISTER_RESTRICTIONS, only, 2) == 0 &&
        io_uring_register(ringFd, IORING_REGISTER_ENABLE_RINGS, nullptr, 0) == 0)
        return true;
    io_uring_queue_exit(&ring);
    return false;
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

long SendBatch::sendNow(int descriptor, const msghdr& header)
{
    // One piece as a plain send: a little less work in the kernel, which a broadcast repeats
    // for every reader.
    const iovec& first = header.msg_iov[0];
    for (;;) {
        const ssize_t written = header.msg_iovlen == 1
                                    ? ::send(descriptor, first.iov_base, first.iov_len, Flags)
                                    : ::sendmsg(descriptor, &header, Flags);
        if (written >= 0 || errno != EINTR)
            return fromResult(written, errno);
    }
}

void SendBatch::add(int descriptor, const msghdr& header, long& written)
{
    if (!ring_) {
        written = sendNow(descriptor, header);
        return;
    }
    io_uring_sqe* send = io_uring_get_sqe(ring_.get());
    if (!send) {
        submit();
        send = io_uring_get_sqe(ring_.get());
    }
    ++pending_;
    if (header.msg_iovlen == 1)
        io_uring_prep_send(send, descriptor, header.msg_iov[0].iov_base, header.msg_iov[0].iov_len,
                           Flags);
    else
        io_uring_prep_sendmsg(send, descriptor, &header, Flags);
    io_uring_sqe_set_data(send, &written);
}

void SendBatch::finish()
{
    if (ring_)
        submit();
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
            *static_cast<long*>(io_uring_cqe_get_data(completion)) =
                fromResult(completion->res, -completion->res);
            ++seen;
        }
        io_uring_cq_advance(ring, seen);
        pending_ -= seen;
    }
}

} // namespace stonecall::server
