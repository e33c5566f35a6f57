// SPDX-License-Identifier: GPL-3.0-or-later
// POP3 over TLS against real servers with certificates of the run's test CA,
// directly and through the real SOCKS 5 proxy.
#include "net/pop3.h"

#include "common/status.h"
#include "support/real_peers.h"
#include "support/relay.h"

#include <gtest/gtest.h>

#include <cstring>

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

} // namespace
