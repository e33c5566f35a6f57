#include "../support/fake_peer.h"
#include "net/socket.h"

#include <gtest/gtest.h>

#include <atomic>

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
    {
        SCOPED_TRACE("3-byte greeting reply");
        FakePeer proxy([](PeerConn& c) {
            c.Read(3);
            c.Send(std::string("\x05\x00\x00", 3));
            c.WaitClosed();
        });
        int sock = SOCK_INVALID;
        EXPECT_EQ(Sock_Connect(&sock, "a.invalid", 110, "127.0.0.1", Socks5(proxy.port()), nullptr,
                               nullptr, 5),
                  SOCKERR_PROTONOSUPPORT);
        EXPECT_EQ(sock, SOCK_INVALID);
    }
    {
        SCOPED_TRACE("connect refused by the proxy");
        FakePeer proxy([](PeerConn& c) {
            c.Read(3);
            c.Send(std::string("\x05\x00", 2));
            c.Read(7 + 9);
            c.Send(std::string("\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00", 10));
            c.WaitClosed();
        });
        int sock = SOCK_INVALID;
        EXPECT_EQ(Sock_Connect(&sock, "a.invalid", 110, "127.0.0.1", Socks5(proxy.port()), nullptr,
                               nullptr, 5),
                  SOCKERR_INVAL);
    }
    {
        SCOPED_TRACE("names up to 255 bytes fit the length byte, longer ones are refused");
        const std::string longest(255, 'a');
        FakePeer proxy([&](PeerConn& c) {
            c.Read(3);
            c.Send(std::string("\x05\x00", 2));
            EXPECT_EQ(c.Read(7 + 255).substr(4, 2), "\xff"
                                                    "a");
            c.Send(std::string("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10));
            c.WaitClosed();
        });
        Closer s;
        EXPECT_EQ(Sock_Connect(&s.sock, longest.c_str(), 110, "127.0.0.1", Socks5(proxy.port()),
                               nullptr, nullptr, 5),
                  0u);
        int sock = SOCK_INVALID;
        // Refused before any connection is made: nothing listens on this port.
        EXPECT_EQ(Sock_Connect(&sock, (longest + "a").c_str(), 110, "127.0.0.1",
                               Socks5(iwtest::ClosedPort()), nullptr, nullptr, 5),
                  SOCKERR_NAMETOOLONG);
    }
}

// ------------------------------------------------------------ send and receive

TEST(SockRecv, GrowsTheBufferKeepsItTerminatedAndReportsEndAndStall) {
    const std::string data(100000, 'z');
    FakePeer peer([&](PeerConn& c) {
        c.Send(data);
        c.ReadLine(); // the client's signal to close
    });
    Closer s;
    ASSERT_EQ(Sock_Connect(&s.sock, "127.0.0.1", peer.port(), nullptr, 0, nullptr, nullptr, 5), 0u);
    GrowBuffer buf;
    size_t total = 0;
    while (total < data.size()) {
        size_t got = 0;
        ASSERT_EQ(Sock_Recv(s.sock, &buf, total, &got, 5), 0u);
        ASSERT_GT(got, 0u);
        total += got;
        ASSERT_LT(total, buf.Capacity());
        ASSERT_EQ(buf.Data()[total], '\0');
    }
    EXPECT_EQ(std::string(buf.Data(), total), data);

    // Nothing more comes: the one-second time-out ends the wait.
    size_t got = 99;
    Stopwatch sw;
    EXPECT_EQ(Sock_Recv(s.sock, &buf, total, &got, 1), SOCKERR_TIMEDOUT);
    EXPECT_GE(sw.ElapsedMs(), 900);
    EXPECT_LT(sw.ElapsedMs(), 3000);
    EXPECT_EQ(got, 0u);

    ASSERT_EQ(Sock_Send(s.sock, "bye\r\n", 5, 5), 0u);
    EXPECT_EQ(Sock_Recv(s.sock, &buf, 0, &got, 5), SOCKERR_CONNRESET);
}

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

// Triggers abort from another thread after 300 ms.
class LateAbort {
  public:
    explicit LateAbort(SockAbort& abort)
        : thread_([&abort] {
              std::this_thread::sleep_for(std::chrono::milliseconds(300));
              abort.Trigger();
          }) {}
    ~LateAbort() { thread_.join(); }

  private:
    std::thread thread_;
};

TEST(SockAbortTest, EndsConnectSocksWaitAndReceivePromptly) {
    SockAbort abort;
    {
        SCOPED_TRACE("connect to a listener whose backlog is full");
        FakePeer full = FakePeer::NeverAccepting();
        std::vector<int> fillers;
        for (int i = 0; i < 4; ++i) {
            int f = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(full.port());
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers.push_back(f);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int sock = SOCK_INVALID;
        Stopwatch sw;
        {
            LateAbort late(abort);
            EXPECT_EQ(Sock_Connect(&sock, "127.0.0.1", full.port(), nullptr, 0, nullptr, nullptr,
                                   30, &abort),
                      SOCKERR_INTR);
        }
        EXPECT_LT(sw.ElapsedMs(), 1300);
        EXPECT_EQ(sock, SOCK_INVALID);
        for (int f : fillers)
            close(f);
        // Stays triggered until the owner re-arms it.
        EXPECT_EQ(
            Sock_Connect(&sock, "127.0.0.1", full.port(), nullptr, 0, nullptr, nullptr, 30, &abort),
            SOCKERR_INTR);
        abort.Reset();
    }
    {
        SCOPED_TRACE("a SOCKS proxy that never answers");
        FakePeer mute([](PeerConn& c) { c.WaitClosed(); });
        int sock = SOCK_INVALID;
        Stopwatch sw;
        {
            LateAbort late(abort);
            EXPECT_EQ(Sock_Connect(&sock, "a.invalid", 110, "127.0.0.1", Socks5(mute.port()),
                                   nullptr, nullptr, 30, &abort),
                      SOCKERR_INTR);
        }
        EXPECT_LT(sw.ElapsedMs(), 1300);
        EXPECT_EQ(sock, SOCK_INVALID);
        abort.Reset();
    }
    {
        SCOPED_TRACE("a receive with nothing coming");
        FakePeer quiet([](PeerConn& c) { c.WaitClosed(); });
        Closer s;
        ASSERT_EQ(Sock_Connect(&s.sock, "127.0.0.1", quiet.port(), nullptr, 0, nullptr, nullptr, 5,
                               &abort),
                  0u);
        GrowBuffer buf;
        size_t got = 0;
        Stopwatch sw;
        {
            LateAbort late(abort);
            EXPECT_EQ(Sock_Recv(s.sock, &buf, 0, &got, 60, &abort), SOCKERR_INTR);
        }
        EXPECT_LT(sw.ElapsedMs(), 1300);
        // The socket itself is untouched: its owner closes it.
        EXPECT_NE(fcntl(s.sock, F_GETFD), -1);
    }
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
