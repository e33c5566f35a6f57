// SPDX-License-Identifier: GPL-3.0-or-later
// A TCP relay on loopback for tests that must know what a client put on the
// wire (no credential before TLS, for one).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace iwtest {

// Relays one connection to 127.0.0.1:target and records what the client
// sent: the bytes a server (or anyone on the path) would have seen.
class Relay {
  public:
    explicit Relay(uint16_t target) : target_(target) {
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listen_, 4) != 0 || getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len))
            throw std::runtime_error("relay: cannot listen");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay() {
        Finish();
        close(listen_);
    }
    uint16_t port() const { return port_; }
    // Waits until the client has closed its connection; then what it sent.
    std::string Finish() {
        shutdown(listen_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        std::lock_guard lock(mu_);
        return fromClient_;
    }

  private:
    void Run() {
        const int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) return;
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(target_);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            char buf[16384];
            while (poll(p, 2, 10000) > 0) {
                const bool up = p[0].revents != 0;
                const ssize_t n = read(up ? client : server, buf, sizeof buf);
                if (n <= 0) break;
                if (up) {
                    std::lock_guard lock(mu_);
                    fromClient_.append(buf, static_cast<size_t>(n));
                }
                if (write(up ? server : client, buf, static_cast<size_t>(n)) != n) break;
            }
        }
        close(server);
        close(client);
    }

    uint16_t target_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mu_;
    std::string fromClient_;
};

} // namespace iwtest
