#include "LoadGenerator.h"

#include "wire/Encryptor.h"
#include "wire/Verify.h"
#include "wire/Wire.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace stonecall::bench {

namespace {

constexpr std::size_t ReadSize = 256 * 1024;
// A lobby message is at most 4 KiB; anything much longer means the stream lost its framing.
constexpr std::size_t MaxTail = 64 * 1024;

double milliseconds(const timespec& time)
{
    return static_cast<double>(time.tv_sec) * 1e3 + static_cast<double>(time.tv_nsec) / 1e6;
}

double clockMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return milliseconds(now);
}

// Time limits run on the monotonic clock.
double nowMs()
{
    return clockMs(CLOCK_MONOTONIC);
}

std::string userName(std::size_t who)
{
    return "bench" + std::to_string(who);
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view afterKeyword(std::string_view message, std::string_view keyword)
{
    return message.substr(keyword.size() + 1);
}

} // namespace

LoadGenerator::LoadGenerator(Peer peer, int port, int maxIndex, double stepTimeoutSeconds)
    : peer_(peer), port_(port), maxIndex_(maxIndex), stepTimeoutMs_(stepTimeoutSeconds * 1e3),
      poller_(epoll_create1(EPOLL_CLOEXEC)), buffer_(ReadSize)
{
    if (poller_ < 0)
        throw std::runtime_error("epoll_create1 failed");
}

LoadGenerator::~LoadGenerator()
{
    // A reset instead of a close handshake leaves no port waiting in TIME_WAIT, so the next
    // server of the run finds loopback ports free.
    const linger reset{1, 0};
    for (const Client& client : clients_) {
        setsockopt(client.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        close(client.fd);
    }
    close(poller_);
}

void LoadGenerator::fail(const std::string& what) const
{
    throw std::runtime_error(what + " (" + std::to_string(clients_.size()) + " clients)");
}

void LoadGenerator::checkDeadline(double startMs, const char* step) const
{
    if (nowMs() - startMs > stepTimeoutMs_)
        fail(std::string(step) + ": not done within the step's time limit (--step-timeout)");
}

void LoadGenerator::connectClient()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail(std::string("socket: ") + std::strerror(errno));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Blocking: on loopback the handshake is done at once unless the listen queue is full.
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail(std::string("connect: ") + std::strerror(errno));
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Arrivals are stamped by the kernel when the server's bytes reach the socket, so the
    // times do not include how long this one thread takes to get round to each client.
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    const std::size_t who = clients_.size();
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = who;
    epoll_ctl(poller_, EPOLL_CTL_ADD, fd, &event);
    Client& client = clients_.emplace_back();
    client.fd = fd;
    client.heard = sequence_;
    if (peer_ == Peer::Lobby) {
        client.known.assign(static_cast<std::size_t>(maxIndex_) / 64 + 1, 0);
        // The client waits for VERSION GOOD before LOGIN; sending both at once saves a round
        // trip and costs the server the same.
        send(who, makeCommand("VERSION", {"1"}));
        send(who, makeCommand("LOGIN", {userName(who), "127.0.0.1"}));
    }
}

void LoadGenerator::send(std::size_t who, std::string_view message)
{
    std::string bytes(message);
    bytes += MsgEnd;
    const ssize_t sent = ::send(clients_[who].fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(bytes.size()))
        fail("client " + std::to_string(who) + " could not send (the server does not read?)");
}

void LoadGenerator::pump(int timeoutMs)
{
    epoll_event events[1024];
    const int count = epoll_wait(poller_, events, 1024, timeoutMs);
    if (count < 0 && errno != EINTR)
        fail(std::string("epoll_wait: ") + std::strerror(errno));
    for (int i = 0; i < count; ++i) {
        const std::size_t who = events[i].data.u64;
        iovec data{buffer_.data(), buffer_.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr header{};
        header.msg_iov = &data;
        header.msg_iovlen = 1;
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        const ssize_t got = recvmsg(clients_[who].fd, &header, 0);
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (got <= 0)
            fail("the server closed client " + std::to_string(who) + "'s connection");
        // The stamp of the last segment read; a broadcast line comes alone in its segment.
        double arrived = clockMs(CLOCK_REALTIME);
        for (cmsghdr* part = CMSG_FIRSTHDR(&header); part; part = CMSG_NXTHDR(&header, part)) {
            if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(part), sizeof stamp);
                arrived = milliseconds(stamp);
            }
        }
        take(who, std::string_view(buffer_.data(), static_cast<std::size_t>(got)), arrived);
    }
}

void LoadGenerator::take(std::size_t who, std::string_view bytes, double arrivedMs)
{
    // Messages are handled in place; only a message cut by the end of a read is copied.
    if (!clients_[who].tail.empty()) {
        const auto end = bytes.find(MsgEnd);
        std::string& tail = clients_[who].tail;
        if (end == std::string_view::npos) {
            tail.append(bytes);
            if (tail.size() > MaxTail)
                fail("client " + std::to_string(who) + " got a message without an end");
            return;
        }
        tail.append(bytes.substr(0, end));
        const std::string message = std::move(tail);
        tail.clear();
        onMessage(who, message, arrivedMs);
        bytes.remove_prefix(end + 1);
    }
    for (auto end = bytes.find(MsgEnd); end != std::string_view::npos; end = bytes.find(MsgEnd)) {
        onMessage(who, bytes.substr(0, end), arrivedMs);
        bytes.remove_prefix(end + 1);
    }
    clients_[who].tail.assign(bytes);
}

void LoadGenerator::onMessage(std::size_t who, std::string_view message, double arrivedMs)
{
    Client& client = clients_[who];
    if (startsWith(message, "USER\xA4")) {
        onUser(client, afterKeyword(message, "USER"));
    } else if (startsWith(message, "MSG\xA4")) {
        // Only the line under way counts; its encoded text is the last field.
        const std::string_view text = message.substr(message.rfind(FieldSep) + 1);
        if (text != text_ || client.heard == sequence_)
            return;
        client.heard = sequence_;
        ++received_;
        if (who != 0) {
            const double ms = arrivedMs - sentMs_;
            delivery_.firstMs = delivery_.firstMs < 0 ? ms : std::min(delivery_.firstMs, ms);
            delivery_.lastMs = std::max(delivery_.lastMs, ms);
        }
    } else if (startsWith(message, "LOGIN\xA4")) {
        send(who, "GETUSERLIST");
    } else if (message == "ENDUSERS") {
        if (!client.listed) {
            client.listed = true;
            ++listed_;
            --inFlight_;
        }
    } else if (message == "PING") {
        send(who, "PINGREPLY");
    } else if (startsWith(message, "VERIFY\xA4")) {
        const std::string_view field = afterKeyword(message, "VERIFY");
        int challenge = 0;
        std::from_chars(field.data(), field.data() + field.size(), challenge);
        if (const auto answer = verifyResponse(static_cast<std::int16_t>(challenge)))
            send(who, makeCommand("VERIFY", {std::to_string(*answer)}));
    } else if (startsWith(message, "VERSION\xA4") && afterKeyword(message, "VERSION") != "GOOD") {
        fail("the server refused version 1");
    }
}

void LoadGenerator::onUser(Client& client, std::string_view fields)
{
    // index, name, a further text
    const auto sep = fields.find(FieldSep);
    int index = -1;
    std::from_chars(fields.data(), fields.data() + std::min(sep, fields.size()), index);
    if (index < 0 || index > maxIndex_ || sep == std::string_view::npos)
        fail("a USER message with an index out of range");
    std::string_view name = fields.substr(sep + 1);
    name = name.substr(0, name.find(FieldSep));
    std::uint64_t& word = client.known[static_cast<std::size_t>(index) / 64];
    const std::uint64_t bit = std::uint64_t{1} << (index % 64);
    const bool wasKnown = (word & bit) != 0;
    if (name == "NONE") {
        if (wasKnown) {
            word &= ~bit;
            if (client.knownCount-- == target_)
                --complete_;
        }
    } else if (!wasKnown) {
        word |= bit;
        if (++client.knownCount == target_)
            ++complete_;
    }
}

void LoadGenerator::grow(int count, int window)
{
    const double start = nowMs();
    if (peer_ == Peer::Fanout) {
        while (size() < count)
            connectClient();
        // The reference accepts on its own time; a line that reaches everyone shows it has.
        for (;;) {
            const double begin = nowMs();
            sequence_++;
            text_ = EncryptText("sync " + std::to_string(sequence_));
            received_ = 0;
            sentMs_ = clockMs(CLOCK_REALTIME);
            send(0, makeCommand("MSG", {userName(0) + ": ", text_}));
            while (received_ < size() && nowMs() - begin < 2000)
                pump(100);
            if (received_ == size())
                return;
            checkDeadline(start, "connecting");
        }
    }
    target_ = count;
    complete_ = static_cast<int>(std::count_if(clients_.begin(), clients_.end(),
                                               [&](auto& c) { return c.knownCount == target_; }));
    while (listed_ < count || complete_ < count) {
        while (inFlight_ < window && size() < count) {
            connectClient();
            ++inFlight_;
        }
        pump(100);
        checkDeadline(start, "logging in");
    }
}

LoadGenerator::Delivery LoadGenerator::broadcast()
{
    sequence_++;
    text_ = EncryptText("line " + std::to_string(sequence_));
    received_ = 0;
    delivery_ = Delivery{-1, 0};
    const double start = nowMs();
    sentMs_ = clockMs(CLOCK_REALTIME); // the clock of the kernel's stamps
    if (peer_ == Peer::Lobby)
        send(0, makeCommand("SENDMSG", {text_}));
    else // the bytes the lobby would send to each recipient
        send(0, makeCommand("MSG", {userName(0) + ": ", text_}));
    while (received_ < size()) {
        pump(100);
        checkDeadline(start, "broadcast");
    }
    return delivery_;
}

} // namespace stonecall::bench
