// The batched writes against real sockets: what each write reports, and that none waits.

#include "SendBatch.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
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
    // More writes than one hand-over takes, each reader's in order.
    std::vector<std::string> lines;
    for (int i = 0; i < 100; ++i)
        lines.push_back("line " + std::to_string(i) + "\n");
    std::uint64_t tag = 10;
    for (const std::string& line : lines) {
        for (const Pair& reader : prompt)
            batch.add(reader.ends[0], line.data(), line.size(), tag++);
    }
    batch.add(full.ends[0], "waits", 5, 1);
    batch.add(gone.ends[0], "lost", 4, 2);

    std::map<std::uint64_t, long> written;
    for (const SendBatch::Result& result : batch.finish())
        written[result.tag] = result.written;
    ASSERT_EQ(written.size(), 1202u);
    EXPECT_EQ(written[1], 0) << "a socket that cannot take more takes nothing for now";
    EXPECT_EQ(written[2], -1) << "a socket whose peer is gone is broken";
    for (std::uint64_t t = 10; t < tag; ++t)
        ASSERT_EQ(written[t], static_cast<long>(lines[(t - 10) / 12].size())) << t;
    std::string expected;
    for (const std::string& line : lines)
        expected += line;
    for (const Pair& reader : prompt)
        EXPECT_EQ(reader.readAll(), expected);
    EXPECT_TRUE(batch.finish().empty());
}
