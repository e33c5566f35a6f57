// SPDX-License-Identifier: GPL-3.0-or-later
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

    // SMTPS on the TLS port, or STARTTLS on the plain one.
    static SendJob Job(const iwtest::PrivateSmtp& sink, bool implicit, int32_t method) {
        SendJob job;
        job.server = "127.0.0.1";
        job.port = implicit ? sink.tls_port() : sink.port();
        job.timeout = 10;
        job.security = implicit ? SMTP_SECURITY_TLS : SMTP_SECURITY_STARTTLS;
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
            SendJob job = Job(*sink, implicit, m.method);
            ASSERT_EQ(Send(job), 0u) << job.errorText;
            const auto got = sink->Received(before);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].auth_mechanism, m.name);
            EXPECT_TRUE(got[0].tls.starts_with("TLSv1.")) << got[0].tls;
            EXPECT_NE(got[0].eml.find("Subject: over TLS"), std::string::npos);
        }
    }
    // Both through the SOCKS 5 proxy, where the certificate must match the
    // name the proxy resolved. STARTTLS goes without a login: EHLO again after
    // the upgrade, then the mail.
    for (const bool implicit : {false, true}) {
        SCOPED_TRACE(implicit ? "SMTPS through SOCKS 5" : "STARTTLS through SOCKS 5");
        SendJob job = Job(*sink, implicit, implicit ? SMTP_AUTH_PLAIN : 0);
        if (!implicit) job.login.clear();
        job.server = "localhost";
        job.proxyHost = "127.0.0.1";
        job.proxyParam = (5u << 24) | peers().socks_port();
        const int before = sink->LastSeq();
        ASSERT_EQ(Send(job), 0u) << job.errorText;
        const auto got = sink->Received(before);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_FALSE(got[0].tls.empty());
    }
}

// A refused certificate sends nothing; the same one pinned goes through,
// whoever issued it. The missing-STARTTLS case is the scripted server's.
TEST_F(SmtpTls, ARefusedCertificateSendsNothingUnlessPinned) {
    const std::string fp = TestPki::Get().Fingerprint("stranger");
    auto sink = Serve("stranger");
    for (const bool implicit : {false, true}) {
        SCOPED_TRACE(implicit ? "SMTPS" : "STARTTLS");
        SendJob job = Job(*sink, implicit, SMTP_AUTH_PLAIN);
        EXPECT_EQ(Send(job), SOCKERR_TLS_CERT);
        EXPECT_EQ(std::string(job.errorText), "Unknown issuer, SHA-256 " + fp);
        job.certPolicy = SOCK_TLS_PINNED;
        job.certPin = fp;
        EXPECT_EQ(Send(job), 0u) << job.errorText;
    }
    EXPECT_EQ(sink->Received().size(), 2u);
}

} // namespace
