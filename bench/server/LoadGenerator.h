#pragma once
// The clients of the server benchmark, all on one epoll thread. Against the lobby server they
// log in as the client does (VERSION, LOGIN, GETUSERLIST; PING and VERIFY answered); against
// the fan-out reference they only connect. Either way client 0 sends chat lines and every
// client's arrival time is taken when its bytes are read.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stonecall::bench {

class LoadGenerator {
public:
    enum class Peer { Lobby, Fanout };

    // `maxIndex`: the highest lobby index the server may hand out (the bound of the bitsets
    // that track which users each client knows).
    LoadGenerator(Peer peer, int port, int maxIndex, double stepTimeoutSeconds);
    ~LoadGenerator();
    LoadGenerator(const LoadGenerator&) = delete;
    LoadGenerator& operator=(const LoadGenerator&) = delete;

    // Adds clients up to `count`. Lobby: at most `window` log-ins at a time, and it returns
    // once every client has its user list and has heard of every other user, so the server has
    // nothing left to send. Fanout: returns once a broadcast reaches every client.
    void grow(int count, int window);

    struct Delivery {
        // From the send to the kernel's stamp on the first recipient's bytes (the sender's
        // own copy not counted), and on the last one's.
        double firstMs = 0;
        double lastMs = 0;
    };
    // One chat line from client 0; returns when every client (the sender too) has it.
    Delivery broadcast();

    int size() const { return static_cast<int>(clients_.size()); }

private:
    struct Client {
        int fd = -1;
        std::string tail; // bytes of a message not yet ended
        bool listed = false;
        int knownCount = 0;
        std::vector<std::uint64_t> known; // lobby indexes this client has heard of as users
        std::uint32_t heard = 0;          // the last broadcast it got
    };

    void connectClient();
    void pump(int timeoutMs);
    // `arrivedMs`: when the bytes reached the socket, on the real-time clock.
    void take(std::size_t who, std::string_view bytes, double arrivedMs);
    void onMessage(std::size_t who, std::string_view message, double arrivedMs);
    void onUser(Client& client, std::string_view fields);
    void send(std::size_t who, std::string_view message);
    [[noreturn]] void fail(const std::string& what) const;
    void checkDeadline(double startMs, const char* step) const;

    Peer peer_;
    int port_;
    int maxIndex_;
    double stepTimeoutMs_;
    int poller_ = -1;
    std::vector<Client> clients_;
    std::vector<char> buffer_;

    // Log-in bookkeeping.
    int inFlight_ = 0;
    int listed_ = 0;
    int target_ = 0;
    int complete_ = 0; // clients that have heard of target_ users

    // The broadcast under way.
    std::uint32_t sequence_ = 0;
    std::string text_;  // its encoded chat text
    double sentMs_ = 0; // real-time clock
    int received_ = 0;
    Delivery delivery_;
};

} // namespace stonecall::bench
