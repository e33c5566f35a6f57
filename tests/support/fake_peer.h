// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted peer on loopback for the transport and POP3 tests: it listens on
// 127.0.0.1, accepts one connection on its own thread and runs a script
// against it (what to read, what to send, when to stall or close). Real
// sockets all the way, so the code under test runs exactly as in production.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace iwtest {

// The accepted connection as the script sees it. Reads give up after a few
// seconds so that a broken test fails instead of hanging.
class PeerConn {
  public:
    explicit PeerConn(int fd) : fd_(fd) {}
    // Exactly n bytes, or fewer when the client closed or went quiet.
    std::string Read(size_t n);
    // One line with its CRLF ("" when none came).
    std::string ReadLine();
    // False once the client has gone away.
    bool Send(std::string_view data);
    // Sends data in pieces of `chunk` bytes with a short pause between them,
    // so that the client sees them arrive separately.
    void SendInChunks(std::string_view data, size_t chunk);
    // Sends data one byte every `everyMs`, the way a server can keep a
    // client waiting without ever going quiet; false once the client has
    // gone away.
    bool Trickle(std::string_view data, int everyMs);
    // Waits until the client closes the connection; true when it did within
    // the given time.
    bool WaitClosed(int timeoutMs = 10000);
    // Bytes the client sent that no read has taken yet: after a line, the
    // next command sent before this one was answered (pipelining).
    size_t Buffered() const { return pending_.size(); }
    int fd() const { return fd_; }

  private:
    bool Fill(int timeoutMs);
    int fd_;
    std::string pending_;
};

class FakePeer {
  public:
    using Script = std::function<void(PeerConn&)>;
    // Starts listening at once; the script runs once a client has connected,
    // and again for each of the next connections up to `connections`, each
    // awaited for at most `acceptWaitMs`.
    explicit FakePeer(Script script, int connections = 1, int acceptWaitMs = 10000);
    // Listens with the given backlog and never accepts: connections beyond
    // the backlog stay unanswered.
    static FakePeer NeverAccepting();
    // Ends a script still waiting on the client (the test is over), then
    // joins it.
    ~FakePeer();
    FakePeer(FakePeer&& other) noexcept;
    FakePeer(const FakePeer&) = delete;
    FakePeer& operator=(const FakePeer&) = delete;

    uint16_t port() const { return port_; }
    // Joins the script thread (the destructor does it too).
    void Join();

  private:
    FakePeer() = default;
    struct Shared {
        std::mutex mu;
        int conn = -1;
        bool stopping = false;
    };
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
    std::thread thread_;
};

// Milliseconds since start, for "returned within a second" checks.
class Stopwatch {
  public:
    Stopwatch();
    long long ElapsedMs() const;

  private:
    long long start_;
};

// A loopback port nothing listens on right now.
uint16_t ClosedPort();

} // namespace iwtest
