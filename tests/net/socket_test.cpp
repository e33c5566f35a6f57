// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fake_peer.h"
#include "net/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using iwtest::FakePeer;
using iwtest::PeerConn;
using iwtest::Stopwatch;

std::string PortBytes(uint16_t port) {
    return {char(port >> 8), char(port & 0xff)};
}

uint32_t Socks4(uint16_t proxyPort) {
    return (4u << 24) | proxyPort;
}
uint32_t Socks5(uint16_t proxyPort) {
    return (5u << 24) | proxyPort;
}

// What the client reads right after the connection is made: the proxy must
// have left the server's first bytes in the socket.
std::string RecvAll(int sock, size_t want) {
    GrowBuffer buf;
    size_t total = 0;
    while (total < want) {
        size_t got = 0;
        if (Sock_Recv(sock, &buf, total, &got, 5) != 0) break;
        total += got;
    }
    return std::string(buf.Data() ? buf.Data() : "", total);
}

struct Closer {
    int sock = SOCK_INVALID;
    ~Closer() { Sock_Close(&sock); }
};

TEST(SockConnect, NameTriesEveryAddressAndFailuresLeaveNoSocket) {
    // "localhost" may resolve to ::1 first, where nothing listens; the IPv4
    // address after it must still be tried.
    FakePeer peer([](PeerConn& c) { c.Send("x"); });
    Closer s;
    ASSERT_EQ(Sock_Connect(&s.sock, "localhost", peer.port(), "", 0, nullptr, nullptr, 5), 0u);
    EXPECT_EQ(RecvAll(s.sock, 1), "x");

    int sock = 12345;
    EXPECT_EQ(
        Sock_Connect(&sock, "127.0.0.1", iwtest::ClosedPort(), nullptr, 0, nullptr, nullptr, 5),
        SOCKERR_CONNREFUSED);
    EXPECT_EQ(sock, SOCK_INVALID);
    const uint32_t unknown =
        Sock_Connect(&sock, "no-such-host.invalid", 110, nullptr, 0, nullptr, nullptr, 5);
    EXPECT_TRUE(unknown == SOCKERR_HOST_NOT_FOUND || unknown == SOCKERR_TRY_AGAIN ||
                unknown == SOCKERR_NO_DATA)
        << unknown;
    EXPECT_EQ(sock, SOCK_INVALID);
}

// ---------------------------------------------------------------- SOCKS 4

TEST(SockSocks4, SendsTheNineByteRequestAndReadsExactlyEightBytes) {
    const uint16_t serverPort = 110;
    // The reply arrives in pieces, and the server's greeting follows in the
    // same segment as its last piece.
    for (size_t chunk : {1, 3, 8}) {
        SCOPED_TRACE(chunk);
        FakePeer proxy([&](PeerConn& c) {
            EXPECT_EQ(c.Read(9), std::string("\x04\x01", 2) + PortBytes(serverPort) +
                                     std::string("\x7f\x00\x00\x01\x00", 5));
            c.SendInChunks(std::string("\x00\x5a\x00\x00\x00\x00\x00\x00", 8) + "+OK\r\n", chunk);
            c.WaitClosed();
        });
        Closer s;
        ASSERT_EQ(Sock_Connect(&s.sock, "127.0.0.1", serverPort, "127.0.0.1", Socks4(proxy.port()),
                               nullptr, nullptr, 5),
                  0u);
        EXPECT_EQ(RecvAll(s.sock, 5), "+OK\r\n");
    }
}

TEST(SockSocks4, RefusalIsInvalidArgumentAndClosesTheSocket) {
    FakePeer proxy([](PeerConn& c) {
        c.Read(9);
        c.Send(std::string("\x00\x5b\x00\x00\x00\x00\x00\x00", 8));
        EXPECT_TRUE(c.WaitClosed());
    });
    int sock = SOCK_INVALID;
    EXPECT_EQ(Sock_Connect(&sock, "127.0.0.1", 110, "127.0.0.1", Socks4(proxy.port()), nullptr,
                           nullptr, 5),
              SOCKERR_INVAL);
    EXPECT_EQ(sock, SOCK_INVALID);
}

// ---------------------------------------------------------------- SOCKS 5

TEST(SockSocks5, SendsGreetingThenDomainRequestAndConsumesTheWholeReply) {
    const std::string name = "mail.example.invalid";
    struct Case {
        const char* what;
        std::string reply;
    } cases[] = {
        {"IPv4", std::string("\x05\x00\x00\x01\x0a\x00\x00\x01\x04\x00", 10)},
        {"IPv6",
         std::string("\x05\x00\x00\x04", 4) + std::string(16, '\x01') + std::string("\x04\x00", 2)},
        {"name", std::string("\x05\x00\x00\x03\x05", 5) + "proxy" + std::string("\x04\x00", 2)},
    };
    for (const auto& k : cases) {
        for (size_t chunk : {1, 2, 5, 64}) {
            SCOPED_TRACE(std::string(k.what) + " in pieces of " + std::to_string(chunk));
            FakePeer proxy([&](PeerConn& c) {
                EXPECT_EQ(c.Read(3), std::string("\x05\x01\x00", 3));
                c.Send(std::string("\x05\x00", 2));
                EXPECT_EQ(c.Read(7 + name.size()), std::string("\x05\x01\x00\x03", 4) +
                                                       char(name.size()) + name + PortBytes(995));
                c.SendInChunks(k.reply + "+OK hi\r\n", chunk);
                c.WaitClosed();
            });
            Closer s;
            ASSERT_EQ(Sock_Connect(&s.sock, name.c_str(), 995, "127.0.0.1", Socks5(proxy.port()),
                                   nullptr, nullptr, 5),
                      0u);
            EXPECT_EQ(RecvAll(s.sock, 8), "+OK hi\r\n");
        }
    }
}

TEST(SockSocks5, WrongGreetingLengthRefusalAndLongNamesFail) {
    const std::string ok("\x05\x00", 2), granted("\x05\x00\x00\x01\0\0\0\0\0\0", 10);
    const struct {
        const char* what;
        std::string greetingReply, connectReply, host;
        uint32_t rc;
    } cases[] = {
        {"3-byte greeting reply", std::string("\x05\x00\x00", 3), "", "a.invalid",
         SOCKERR_PROTONOSUPPORT},
        {"connect refused by the proxy", ok, std::string("\x05\x05\x00\x01\0\0\0\0\0\0", 10),
         "a.invalid", SOCKERR_INVAL},
        {"a name of 255 bytes fits the length byte", ok, granted, std::string(255, 'a'), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakePeer proxy([&c](PeerConn& conn) {
            conn.Read(3);
            conn.Send(c.greetingReply);
            const std::string request = conn.Read(7 + c.host.size());
            if (c.connectReply.empty()) return;
            EXPECT_EQ(request[4], char(c.host.size()));
            conn.Send(c.connectReply);
            conn.WaitClosed();
        });
        Closer s;
        EXPECT_EQ(Sock_Connect(&s.sock, c.host.c_str(), 110, "127.0.0.1", Socks5(proxy.port()),
                               nullptr, nullptr, 5),
                  c.rc);
        EXPECT_EQ(s.sock == SOCK_INVALID, c.rc != 0);
    }
    // Longer names are refused before any connection is made: nothing listens
    // on this port.
    int sock = SOCK_INVALID;
    EXPECT_EQ(Sock_Connect(&sock, std::string(256, 'a').c_str(), 110, "127.0.0.1",
                           Socks5(iwtest::ClosedPort()), nullptr, nullptr, 5),
              SOCKERR_NAMETOOLONG);
}

// ------------------------------------------------------------ send and receive

// Growth, the terminating NUL after each piece, time-outs and a peer that
// closes are the POP3 tests' (split replay, huge listing, silences).
TEST(SockRecv, AnswerBeyondTheBufferLimitIsNoBufferSpace) {
    FakePeer peer([](PeerConn& c) {
        c.Send(std::string(200000, 'x'));
        c.WaitClosed();
    });
    Closer s;
    ASSERT_EQ(Sock_Connect(&s.sock, "127.0.0.1", peer.port(), nullptr, 0, nullptr, nullptr, 5), 0u);
    GrowBuffer buf(65536);
    size_t total = 0, got = 0;
    uint32_t rc;
    while ((rc = Sock_Recv(s.sock, &buf, total, &got, 5)) == 0)
        total += got;
    EXPECT_EQ(rc, SOCKERR_NOBUFS);
    EXPECT_EQ(total, 65535u); // every byte the limit allows, plus the NUL
    EXPECT_EQ(buf.Capacity(), 65536u);
}

// Large blocks arriving whole are the real-server send tests'.
TEST(SockSend, AStuckPeerTimesOut) {
    // Never reads, and stays until the client has given up: closing earlier
    // would turn a slow machine's time-out into a reset.
    std::atomic<bool> gaveUp{false};
    FakePeer deaf([&](PeerConn&) {
        for (int i = 0; i < 300 && !gaveUp; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    Closer t;
    ASSERT_EQ(Sock_Connect(&t.sock, "127.0.0.1", deaf.port(), nullptr, 0, nullptr, nullptr, 5), 0u);
    const std::string huge(64 << 20, 'h');
    Stopwatch sw;
    EXPECT_EQ(Sock_Send(t.sock, huge.data(), huge.size(), 1), SOCKERR_TIMEDOUT);
    gaveUp = true;
    EXPECT_LT(sw.ElapsedMs(), 5000);
}

// ---------------------------------------------------------------- abort

// Each wait ends within a second of an abort from another thread.
TEST(SockAbortTest, EndsConnectSocksWaitAndReceivePromptly) {
    FakePeer full = FakePeer::NeverAccepting();
    std::vector<int> fillers; // the listener's backlog is full: a connect waits
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(full.port());
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    FakePeer mute([](PeerConn& c) { c.WaitClosed(); }, 2);
    SockAbort abort;
    const struct {
        const char* what;
        std::function<uint32_t()> wait;
    } cases[] = {
        {"connect to a listener whose backlog is full",
         [&] {
             int sock = 123;
             const uint32_t rc = Sock_Connect(&sock, "127.0.0.1", full.port(), nullptr, 0, nullptr,
                                              nullptr, 30, &abort);
             EXPECT_EQ(sock, SOCK_INVALID);
             return rc;
         }},
        {"a SOCKS proxy that never answers",
         [&] {
             int sock = 123;
             const uint32_t rc = Sock_Connect(&sock, "a.invalid", 110, "127.0.0.1",
                                              Socks5(mute.port()), nullptr, nullptr, 30, &abort);
             EXPECT_EQ(sock, SOCK_INVALID);
             return rc;
         }},
        {"a receive with nothing coming",
         [&] {
             Closer s;
             EXPECT_EQ(Sock_Connect(&s.sock, "127.0.0.1", mute.port(), nullptr, 0, nullptr, nullptr,
                                    5, &abort),
                       0u);
             GrowBuffer buf;
             size_t got = 0;
             const uint32_t rc = Sock_Recv(s.sock, &buf, 0, &got, 60, &abort);
             // The socket itself is untouched: its owner closes it.
             EXPECT_NE(fcntl(s.sock, F_GETFD), -1);
             return rc;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        abort.Reset();
        std::thread late([&abort] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            abort.Trigger();
        });
        Stopwatch sw;
        EXPECT_EQ(c.wait(), SOCKERR_INTR);
        late.join();
        EXPECT_LT(sw.ElapsedMs(), 1300);
    }
    // It stays triggered until the owner re-arms it.
    EXPECT_EQ(cases[0].wait(), SOCKERR_INTR);
    for (int f : fillers)
        close(f);
}

TEST(SockAbortTest, AnAbortAlreadyPulledStopsANameLookupAtOnce) {
    SockAbort abort;
    abort.Trigger();
    int sock = SOCK_INVALID;
    Stopwatch sw;
    EXPECT_EQ(
        Sock_Connect(&sock, "mail.example.invalid", 110, nullptr, 0, nullptr, nullptr, 30, &abort),
        SOCKERR_INTR);
    EXPECT_LT(sw.ElapsedMs(), 500);
    EXPECT_EQ(sock, SOCK_INVALID);
}

TEST(SockConnect, ReachesAnIpv6Peer) {
    const int listener = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof a;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len)) {
        if (listener >= 0) close(listener);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    Closer s;
    EXPECT_EQ(Sock_Connect(&s.sock, "::1", ntohs(a.sin6_port), nullptr, 0, nullptr, nullptr, 5),
              0u);
    const int peer = accept(listener, nullptr, nullptr);
    EXPECT_GE(peer, 0);
    EXPECT_EQ(send(peer, "v6", 2, 0), 2);
    EXPECT_EQ(RecvAll(s.sock, 2), "v6");
    close(peer);
    close(listener);
}

} // namespace

// Cancel and skip in a handshake are the account check's tests, plain text
// for a ServerHello the POP3 STLS one's.
TEST(SockTls, AHandshakeThatGetsNoAnswerTimesOutAndBadArgumentsAreRefused) {
    FakePeer mute([](PeerConn& c) { c.WaitClosed(); }, 2);
    {
        Closer s;
        ASSERT_EQ(Sock_Connect(&s.sock, "127.0.0.1", mute.port(), nullptr, 0, nullptr, nullptr, 5),
                  0u);
        Stopwatch sw;
        EXPECT_EQ(Sock_StartTls(s.sock, "localhost", SOCK_TLS_VERIFY, "", 1), SOCKERR_TIMEDOUT);
        EXPECT_LT(sw.ElapsedMs(), 2500);
    }
    // No name to verify, or an unknown policy, must not pass for "no checks".
    Closer s;
    ASSERT_EQ(Sock_Connect(&s.sock, "127.0.0.1", mute.port(), nullptr, 0, nullptr, nullptr, 5), 0u);
    EXPECT_EQ(Sock_StartTls(s.sock, nullptr, SOCK_TLS_VERIFY, "", 5), SOCKERR_INVAL);
    EXPECT_EQ(Sock_StartTls(s.sock, "localhost", 7, "", 5), SOCKERR_INVAL);
}

TEST(SockTls, PinSyntax) {
    const std::string hex64(64, 'a');
    EXPECT_TRUE(Sock_IsValidPin(std::string(32, 'F') + std::string(32, '0')));
    EXPECT_FALSE(Sock_IsValidPin(hex64.substr(1)));
    EXPECT_FALSE(Sock_IsValidPin(hex64 + "a"));
    EXPECT_FALSE(Sock_IsValidPin(std::string(63, 'a') + "g"));
    EXPECT_FALSE(Sock_IsValidPin(std::string(62, 'a') + ":a"));
}
