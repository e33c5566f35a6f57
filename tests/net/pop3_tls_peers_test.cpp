// POP3 over TLS against real servers with certificates of the run's test CA,
// directly and through the real SOCKS 5 proxy.
#include "net/pop3.h"

#include "../support/fake_peer.h"
#include "common/status.h"
#include "support/process.h"
#include "support/real_peers.h"
#include "support/relay.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

using iwtest::Relay;
using iwtest::TestPki;

constexpr int kTimeout = 10;

Pop3Security Sec(int mode, int policy = SOCK_TLS_VERIFY, std::string pin = {}) {
    return {mode, policy, std::move(pin)};
}

class Pop3Tls : public iwtest::RealPeersTest {
  protected:
    static void SetUpTestSuite() { TestPki::Get(); }
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Pop3_ResetCheckState();
    }
    void TearDown() override { Sock_Close(&sock_); }

    std::unique_ptr<iwtest::PrivatePop3> Serve(const std::string& cert) {
        iwtest::Pop3Options opt;
        opt.users = "tls:tlspw";
        opt.tls = true;
        opt.tls_cert = TestPki::Get().Cert(cert);
        opt.tls_key = TestPki::Get().Key(cert);
        auto server = peers().StartPop3(opt);
        server->SeedMaildir("tls", 2);
        return server;
    }

    uint32_t Connect(uint16_t port, const Pop3Security& sec, bool viaSocks5 = false,
                     const char* host = "127.0.0.1") {
        Sock_Close(&sock_);
        text_.clear();
        return Pop3_ConnectSecure(&sock_, host, port, kTimeout, viaSocks5 ? "127.0.0.1" : nullptr,
                                  viaSocks5 ? (5u << 24) | peers().socks_port() : 0, sec, &buf_,
                                  nullptr, nullptr, &text_);
    }

    // Logs in and asks STAT on the open session.
    void ExpectLoginAndStat(int authType = 0) {
        const std::string greeting(buf_.Data(), std::strcspn(buf_.Data(), "\r\n"));
        ASSERT_TRUE(greeting.starts_with("+OK")) << greeting;
        std::string why;
        ASSERT_EQ(Pop3_Login(sock_, &buf_, kTimeout, authType, greeting, "tls", "tlspw", &why), 0u)
            << why;
        ASSERT_EQ(Pop3_SendCMD(sock_, "STAT", nullptr, POP3_SINGLE_LINE, &buf_, kTimeout), 0u);
        EXPECT_TRUE(std::string(buf_.Data()).starts_with("+OK 2 ")) << buf_.Data();
    }

    int sock_ = SOCK_INVALID;
    GrowBuffer buf_{POP3_BUFFER_LIMIT};
    std::string text_;
};

TEST_F(Pop3Tls, Pop3sAndStlsLogInWithAVerifiedCertificateDirectlyAndThroughSocks5) {
    auto server = Serve("good");
    for (const bool socks : {false, true}) {
        SCOPED_TRACE(socks ? "through SOCKS 5" : "direct");
        ASSERT_EQ(Connect(server->tls_port(), Sec(POP3_SECURITY_TLS), socks), 0u) << text_;
        EXPECT_TRUE(Sock_IsTls(sock_));
        ExpectLoginAndStat();

        // STLS on the plain port; the greeting's timestamp still serves APOP.
        ASSERT_EQ(Connect(server->port(), Sec(POP3_SECURITY_STLS), socks, "localhost"), 0u)
            << text_;
        EXPECT_TRUE(Sock_IsTls(sock_));
        ExpectLoginAndStat(1);
    }
}

TEST_F(Pop3Tls, RefusedCertificatesNameTheReasonAndTheFingerprint) {
    const TestPki& pki = TestPki::Get();
    const struct {
        const char* cert;
        const char* host;
        std::string reason;
    } cases[] = {
        {"wronghost", "127.0.0.1", "Host name mismatch"},
        {"expired", "127.0.0.1", "Certificate expired"},
        {"stranger", "localhost", "Unknown issuer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cert) + " as " + c.host);
        auto server = Serve(c.cert);
        for (const bool stls : {false, true}) {
            SCOPED_TRACE(stls ? "STLS" : "POP3S");
            EXPECT_EQ(Connect(stls ? server->port() : server->tls_port(),
                              Sec(stls ? POP3_SECURITY_STLS : POP3_SECURITY_TLS), false, c.host),
                      SOCKERR_TLS_CERT);
            EXPECT_EQ(text_, c.reason + ", SHA-256 " + pki.Fingerprint(c.cert));
            EXPECT_EQ(sock_, SOCK_INVALID);
        }
    }
}

TEST_F(Pop3Tls, APinnedCertificateIsAcceptedWhoeverIssuedItAndAChangedOneIsRefused) {
    const TestPki& pki = TestPki::Get();
    auto server = Serve("stranger");
    for (const bool socks : {false, true}) {
        SCOPED_TRACE(socks ? "through SOCKS 5" : "direct");
        std::string pin = pki.Fingerprint("stranger");
        for (char& ch : pin)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        ASSERT_EQ(Connect(server->tls_port(), Sec(POP3_SECURITY_TLS, SOCK_TLS_PINNED, pin), socks),
                  0u)
            << text_;
        ExpectLoginAndStat();

        // The pin of the certificate the server used to have; the text shows
        // the new one, which the user may decide to pin.
        const auto oldPin = Sec(POP3_SECURITY_STLS, SOCK_TLS_PINNED, pki.Fingerprint("good2"));
        EXPECT_EQ(Connect(server->port(), oldPin, socks), SOCKERR_TLS_CERT);
        EXPECT_EQ(text_, "Pin mismatch, SHA-256 " + pki.Fingerprint("stranger"));
        // Pinned but no pin: nothing matches.
        EXPECT_EQ(Connect(server->tls_port(), Sec(POP3_SECURITY_TLS, SOCK_TLS_PINNED, ""), socks),
                  SOCKERR_TLS_CERT);
    }
    // A pinned certificate that verifies is still held to its pin.
    auto good = Serve("good");
    EXPECT_EQ(Connect(good->tls_port(),
                      Sec(POP3_SECURITY_TLS, SOCK_TLS_PINNED, pki.Fingerprint("good2"))),
              SOCKERR_TLS_CERT);
}

TEST_F(Pop3Tls, RequiredStlsThatIsNotOfferedEndsBeforeAnyCredentialIsSent) {
    iwtest::Pop3Options opt;
    opt.users = "tls:tlspw";
    auto plain = peers().StartPop3(opt); // no TLS: CAPA lists no STLS, STLS is refused
    for (const bool socks : {false, true}) {
        SCOPED_TRACE(socks ? "through SOCKS 5" : "direct");
        Relay relay(plain->port());
        EXPECT_EQ(Connect(relay.port(), Sec(POP3_SECURITY_STLS), socks), POP3_STLS_UNAVAILABLE);
        EXPECT_EQ(text_, Pop3_ErrorText(POP3_STLS_UNAVAILABLE));
        EXPECT_EQ(sock_, SOCK_INVALID);
        EXPECT_EQ(relay.Finish(), "CAPA\r\n");
    }
}

TEST_F(Pop3Tls, TheServerNameGoesOutAsSniButAnAddressDoesNot) {
    auto server = Serve("good");
    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        Relay relay(server->tls_port());
        ASSERT_EQ(Connect(relay.port(), Sec(POP3_SECURITY_TLS), false, host), 0u) << text_;
        Sock_Close(&sock_);
        // The ClientHello is the only clear text: the name is there or nowhere.
        EXPECT_EQ(relay.Finish().find(host) != std::string::npos, std::string(host) == "localhost");
    }
}

// openssl's own server, speaking only the given protocol version.
struct OpensslServer {
    pid_t pid = -1;
    uint16_t port = 0;
    OpensslServer(const std::string& version, const TestPki& pki) {
        const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
        getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        close(probe);
        // The old protocol needs the old ciphers allowed on the server side.
        pid = iwtest::Spawn({"openssl", "s_server", "-quiet", "-accept", std::to_string(port),
                             "-cert", pki.Cert("good"), "-key", pki.Key("good"), version, "-cipher",
                             "DEFAULT:@SECLEVEL=0"});
    }
    ~OpensslServer() {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    // Connects once the server listens (it takes a moment to start).
    int Connect() const {
        for (int i = 0; i < 100; ++i) {
            int sock = SOCK_INVALID;
            if (Sock_Connect(&sock, "127.0.0.1", port, nullptr, 0, nullptr, nullptr, kTimeout) == 0)
                return sock;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return SOCK_INVALID;
    }
};

TEST_F(Pop3Tls, AServerThatSpeaksNothingNewerThanTls11IsRefused) {
    const TestPki& pki = TestPki::Get();
    for (const char* version : {"-tls1_2", "-tls1_1"}) {
        SCOPED_TRACE(version);
        OpensslServer server(version, pki);
        sock_ = server.Connect();
        ASSERT_NE(sock_, SOCK_INVALID);
        std::string why;
        const uint32_t rc =
            Sock_StartTls(sock_, "localhost", SOCK_TLS_VERIFY, nullptr, kTimeout, nullptr, &why);
        if (std::string(version) == "-tls1_2")
            EXPECT_EQ(rc, 0u) << why; // the same server and certificate are fine on TLS 1.2
        else
            EXPECT_EQ(rc, SOCKERR_TLS) << why;
        Sock_Close(&sock_);
    }
}

} // namespace
