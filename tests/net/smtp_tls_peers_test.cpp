// The SMTP client over STARTTLS and SMTPS against the real SMTP sink of the
// test harness, serving a certificate of the run's test CA.
#include "net/smtp.h"

#include "message/base64.h"
#include "support/real_peers.h"

#include <gtest/gtest.h>

namespace {

using iwtest::TestPki;

const SMTP_CODEC kCodec{Base64_Encode, Base64_Decode};

class SmtpTls : public iwtest::RealPeersTest {
  protected:
    static void SetUpTestSuite() { TestPki::Get(); }
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Smtp_SetCodec(&kCodec);
    }

    std::unique_ptr<iwtest::PrivateSmtp> Serve(const std::string& cert,
                                               std::vector<std::string> more = {}) {
        iwtest::SmtpOptions opt;
        opt.users = "tls:tlspw";
        opt.implicit_tls = true;
        opt.args = {"--starttls", "--cert", TestPki::Get().Cert(cert), "--key",
                    TestPki::Get().Key(cert)};
        opt.args.insert(opt.args.end(), more.begin(), more.end());
        return peers().StartSmtp(opt);
    }

    static SendJob Job(uint16_t port, int32_t security, int32_t method) {
        SendJob job;
        job.server = "127.0.0.1";
        job.port = port;
        job.timeout = 10;
        job.security = security;
        job.login = "tls";
        job.password = "tlspw";
        job.authMethod = method;
        job.senderAddress = "me@example.org";
        job.to = "you@example.org";
        job.mode = SEND_RAW;
        job.rawText = "Subject: over TLS\r\n\r\nbody\r\n";
        return job;
    }

    uint32_t Send(SendJob& job) {
        int sock = SOCK_INVALID;
        const uint32_t rc =
            Smtp_SendMessage(&job, &sock, job.errorText, sizeof job.errorText, nullptr, nullptr);
        EXPECT_EQ(sock, SOCK_INVALID);
        return rc;
    }
};

TEST_F(SmtpTls, StartTlsAndSmtpsWithEveryAuthMethod) {
    auto sink = Serve("good", {"--require-starttls"});
    const struct {
        int32_t method;
        const char* name;
    } methods[] = {
        {SMTP_AUTH_PLAIN, "PLAIN"}, {SMTP_AUTH_LOGIN, "LOGIN"}, {SMTP_AUTH_CRAM_MD5, "CRAM-MD5"}};
    for (const auto& m : methods) {
        for (const bool implicit : {false, true}) {
            SCOPED_TRACE(std::string(m.name) + (implicit ? " over SMTPS" : " after STARTTLS"));
            const int before = sink->LastSeq();
            SendJob job = implicit ? Job(sink->tls_port(), SMTP_SECURITY_TLS, m.method)
                                   : Job(sink->port(), SMTP_SECURITY_STARTTLS, m.method);
            ASSERT_EQ(Send(job), 0u) << job.errorText;
            const auto got = sink->Received(before);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].auth_mechanism, m.name);
            EXPECT_EQ(got[0].auth_login, "tls");
            EXPECT_TRUE(got[0].tls.starts_with("TLSv1.")) << got[0].tls;
            EXPECT_NE(got[0].eml.find("Subject: over TLS"), std::string::npos);
        }
    }
    // Both through the SOCKS 5 proxy.
    for (const bool implicit : {false, true}) {
        SCOPED_TRACE(implicit ? "SMTPS through SOCKS 5" : "STARTTLS through SOCKS 5");
        SendJob job = implicit ? Job(sink->tls_port(), SMTP_SECURITY_TLS, SMTP_AUTH_PLAIN)
                               : Job(sink->port(), SMTP_SECURITY_STARTTLS, SMTP_AUTH_PLAIN);
        job.server = "localhost"; // the proxy resolves it; the certificate names it
        job.proxyHost = "127.0.0.1";
        job.proxyParam = (5u << 24) | peers().socks_port();
        const int before = sink->LastSeq();
        ASSERT_EQ(Send(job), 0u) << job.errorText;
        ASSERT_EQ(sink->Received(before).size(), 1u);
        EXPECT_FALSE(sink->Received(before)[0].tls.empty());
    }
    // Without a login too: EHLO again after STARTTLS, then the mail.
    SendJob job = Job(sink->port(), SMTP_SECURITY_STARTTLS, 0);
    job.login.clear();
    const int before = sink->LastSeq();
    ASSERT_EQ(Send(job), 0u) << job.errorText;
    ASSERT_EQ(sink->Received(before).size(), 1u);
    EXPECT_FALSE(sink->Received(before)[0].tls.empty());
}

TEST_F(SmtpTls, RequiredStartTlsThatIsNotOfferedAndRefusedCertificatesSendNothing) {
    {
        SCOPED_TRACE("the shared sink offers no STARTTLS");
        SendJob job = Job(peers().smtp_port(), SMTP_SECURITY_STARTTLS, SMTP_AUTH_PLAIN);
        job.login = peers().user().name;
        job.password = peers().user().password;
        EXPECT_EQ(Send(job), SMTP_REFUSED);
        EXPECT_STREQ(job.errorText, "The server does not offer STARTTLS; nothing was sent");
        EXPECT_TRUE(peers().SmtpReceived().empty());
    }
    const TestPki& pki = TestPki::Get();
    const struct {
        const char* cert;
        const char* reason;
    } certs[] = {{"stranger", "Unknown issuer"}, {"expired", "Certificate expired"}};
    for (const auto& c : certs) {
        auto sink = Serve(c.cert);
        for (const bool implicit : {false, true}) {
            SCOPED_TRACE(std::string(c.cert) + (implicit ? " over SMTPS" : " after STARTTLS"));
            SendJob job = implicit ? Job(sink->tls_port(), SMTP_SECURITY_TLS, SMTP_AUTH_PLAIN)
                                   : Job(sink->port(), SMTP_SECURITY_STARTTLS, SMTP_AUTH_PLAIN);
            EXPECT_EQ(Send(job), SOCKERR_TLS_CERT);
            EXPECT_EQ(std::string(job.errorText),
                      std::string(c.reason) + ", SHA-256 " + pki.Fingerprint(c.cert));
            // The pinned certificate goes through, whoever issued it.
            job.certPolicy = SOCK_TLS_PINNED;
            job.certPin = pki.Fingerprint(c.cert);
            EXPECT_EQ(Send(job), 0u) << job.errorText;
        }
        EXPECT_EQ(sink->Received().size(), 2u);
    }
}

} // namespace
