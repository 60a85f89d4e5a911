// stonecall-fanout: the yardstick of the server benchmark. Each read from a connection goes to
// every connection, the sender included, with one write each: the least a chat relay can do.
// A write the kernel does not take whole loses its rest; the benchmark's readers keep up.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3 || std::strcmp(argv[1], "--port") != 0) {
        std::fprintf(stderr, "usage: stonecall-fanout --port PORT (listens on 127.0.0.1)\n");
        return 2;
    }
    const int one = 1;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[2])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        std::perror("stonecall-fanout");
        return 1;
    }
    const int poller = epoll_create1(0);
    auto watch = [poller](int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(poller, EPOLL_CTL_ADD, fd, &event);
    };
    watch(listener);
    std::vector<int> peers;
    std::vector<epoll_event> ready(1024);
    static char buffer[64 * 1024];
    for (;;) {
        const int count = epoll_wait(poller, ready.data(), static_cast<int>(ready.size()), -1);
        for (int i = 0; i < count; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == listener) {
                for (int peer; (peer = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
                    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    watch(peer);
                    peers.push_back(peer);
                }
                continue;
            }
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EAGAIN)
                continue;
            if (got <= 0) {
                close(fd);
                peers.erase(std::find(peers.begin(), peers.end(), fd));
                continue;
            }
            for (const int peer : peers)
                send(peer, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }
}
