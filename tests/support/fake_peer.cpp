// SPDX-License-Identifier: GPL-3.0-or-later
#include "fake_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace iwtest {
namespace {

constexpr int kReadTimeoutMs = 5000;

int ListenLoopback(int backlog, uint16_t* port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd, backlog) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("cannot listen on loopback");
    *port = ntohs(a.sin_port);
    return fd;
}

} // namespace

bool PeerConn::Fill(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char tmp[65536];
    const ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    pending_.append(tmp, static_cast<size_t>(n));
    return true;
}

std::string PeerConn::Read(size_t n) {
    while (pending_.size() < n)
        if (!Fill(kReadTimeoutMs)) break;
    std::string out = pending_.substr(0, n);
    pending_.erase(0, out.size());
    return out;
}

std::string PeerConn::ReadLine() {
    for (;;) {
        const auto nl = pending_.find("\r\n");
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl + 2);
            pending_.erase(0, nl + 2);
            return line;
        }
        if (!Fill(kReadTimeoutMs)) return "";
    }
}

bool PeerConn::Send(std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false; // the client went away; the test checks what it saw
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void PeerConn::SendInChunks(std::string_view data, size_t chunk) {
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    while (!data.empty()) {
        const size_t n = std::min(chunk, data.size());
        Send(data.substr(0, n));
        data.remove_prefix(n);
        if (!data.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool PeerConn::Trickle(std::string_view data, int everyMs) {
    const int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (const char c : data) {
        // The pause ends early when the client hangs up, so the script does too.
        pollfd p{fd_, POLLRDHUP, 0};
        if (poll(&p, 1, everyMs) > 0) return false;
        if (!Send(std::string_view(&c, 1))) return false;
    }
    return true;
}

bool PeerConn::WaitClosed(int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char tmp[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        const ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) return true;
    }
}

FakePeer::FakePeer(Script script, int connections, int acceptWaitMs) {
    listen_fd_ = ListenLoopback(8, &port_);
    thread_ = std::thread(
        [fd = listen_fd_, shared = shared_, script = std::move(script), connections, acceptWaitMs] {
            for (int i = 0; i < connections; ++i) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, acceptWaitMs) <= 0) return;
                const int conn = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (conn < 0) return;
                {
                    std::lock_guard lock(shared->mu);
                    if (shared->stopping) {
                        close(conn);
                        return;
                    }
                    shared->conn = conn;
                }
                PeerConn c(conn);
                script(c);
                std::lock_guard lock(shared->mu);
                close(conn);
                shared->conn = -1;
                if (shared->stopping) return;
            }
        });
}

FakePeer FakePeer::NeverAccepting() {
    FakePeer peer;
    peer.listen_fd_ = ListenLoopback(0, &peer.port_);
    return peer;
}

FakePeer::FakePeer(FakePeer&& other) noexcept
    : listen_fd_(std::exchange(other.listen_fd_, -1)), port_(other.port_), shared_(other.shared_),
      thread_(std::move(other.thread_)) {}

void FakePeer::Join() {
    if (thread_.joinable()) thread_.join();
}

FakePeer::~FakePeer() {
    {
        std::lock_guard lock(shared_->mu);
        shared_->stopping = true;
        if (shared_->conn >= 0) shutdown(shared_->conn, SHUT_RDWR);
        // Wakes a wait for a connection that will not come.
        if (listen_fd_ >= 0) shutdown(listen_fd_, SHUT_RDWR);
    }
    Join();
    if (listen_fd_ >= 0) close(listen_fd_);
}

Stopwatch::Stopwatch()
    : start_(std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
                 .count()) {}

long long Stopwatch::ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
               .count() -
           start_;
}

uint16_t ClosedPort() {
    uint16_t port = 0;
    close(ListenLoopback(1, &port));
    return port;
}

} // namespace iwtest
