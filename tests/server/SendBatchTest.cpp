// The batched writes against real sockets: what each write reports, and that none waits.

#include "SendBatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

using stonecall::server::SendBatch;

namespace {

struct Pair {
    int ends[2] = {-1, -1};
    Pair()
    {
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
        ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
    }
    ~Pair()
    {
        for (const int end : ends) {
            if (end >= 0)
                ::close(end);
        }
    }
    std::string readAll() const
    {
        std::string got;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(ends[1], buffer, sizeof buffer, 0)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
        return got;
    }
};

} // namespace

class SendBatchTest : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Writes, SendBatchTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Gathered" : "CallEach";
                         });

TEST_P(SendBatchTest, ReportsEachWriteAndNeverWaitsForAFullSocket)
{
    Pair full, gone;
    Pair prompt[12];
    const std::string filler(4096, 'f');
    while (::send(full.ends[0], filler.data(), filler.size(), MSG_DONTWAIT) > 0) {
    }
    ::close(gone.ends[1]);
    gone.ends[1] = -1;

    SendBatch batch(GetParam());
    // Each write's header, pieces and result stay put until the batch has finished.
    struct Write {
        msghdr header{};
        iovec pieces[2]{};
        long written = 99;
    };
    std::vector<Write> writes(1202);
    std::size_t next = 0;
    const auto add = [&](int fd, std::string_view first, std::string_view second = {}) {
        Write& write = writes[next++];
        write.pieces[0] = iovec{const_cast<char*>(first.data()), first.size()};
        write.pieces[1] = iovec{const_cast<char*>(second.data()), second.size()};
        write.header.msg_iov = write.pieces;
        write.header.msg_iovlen = second.empty() ? 1 : 2;
        batch.add(fd, write.header, write.written);
    };
    // More writes than one hand-over takes, each reader's in order, some in two pieces.
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i)
        lines.push_back("line " + std::to_string(i) + "\n");
    for (const std::string& line : lines) {
        for (const Pair& reader : prompt) {
            const std::string_view text = line;
            if (&reader == &prompt[0])
                add(reader.ends[0], text.substr(0, 3), text.substr(3));
            else
                add(reader.ends[0], text);
        }
    }
    add(full.ends[0], "waits");
    add(gone.ends[0], "lost", "!");

    batch.finish();
    ASSERT_EQ(next, 1202u);
    for (std::size_t i = 0; i < 1200; ++i)
        ASSERT_EQ(writes[i].written, static_cast<long>(lines[i / 12].size())) << i;
    EXPECT_EQ(writes[1200].written, 0) << "a socket that cannot take more takes nothing for now";
    EXPECT_EQ(writes[1201].written, -1) << "a socket whose peer is gone is broken";
    std::string expected;
    for (const std::string& line : lines)
        expected += line;
    for (const Pair& reader : prompt)
        EXPECT_EQ(reader.readAll(), expected);
}
