// SPDX-License-Identifier: GPL-3.0-or-later
// The account check, fetch-one and fast delete over TLS against real Dovecot
// instances serving certificates of the run's test CA, with the account's
// security values as a user sets them.
#include "check_harness.h"
#include "common/status.h"
#include "engine/fastdelete.h"
#include "platform/user_message.h"
#include "settings/msgbox_reg.h"
#include "support/real_peers.h"
#include "support/temp_env.h"

#include "../support/fake_pop3.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <thread>

namespace {

using iwtest::BoxIds;
using iwtest::RunCheck;
using iwtest::SeededUidl;
using iwtest::TestPki;

// The scripted server's side of TLS once it has answered STLS, with the
// test CA's certificate for 127.0.0.1.
iwtest::FakeIo ServerTls(iwtest::PeerConn& c) {
    struct Tls {
        SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
        SSL* ssl = nullptr;
        std::string pending;
        bool up = false;
        ~Tls() {
            SSL_free(ssl);
            SSL_CTX_free(ctx);
        }
    };
    auto t = std::make_shared<Tls>();
    SSL_CTX_use_certificate_chain_file(t->ctx, TestPki::Get().Cert("good").c_str());
    SSL_CTX_use_PrivateKey_file(t->ctx, TestPki::Get().Key("good").c_str(), SSL_FILETYPE_PEM);
    t->ssl = SSL_new(t->ctx);
    SSL_set_fd(t->ssl, c.fd());
    t->up = SSL_accept(t->ssl) == 1;
    return {[t]() -> std::string {
                while (t->up) {
                    const size_t nl = t->pending.find("\r\n");
                    if (nl != std::string::npos) {
                        std::string line = t->pending.substr(0, nl + 2);
                        t->pending.erase(0, nl + 2);
                        return line;
                    }
                    char b[16384];
                    const int n = SSL_read(t->ssl, b, sizeof b);
                    if (n <= 0) break;
                    t->pending.append(b, static_cast<size_t>(n));
                }
                return "";
            },
            [t](std::string_view d) {
                return t->up && SSL_write(t->ssl, d.data(), static_cast<int>(d.size())) > 0;
            },
            [t] { return t->pending.size() + static_cast<size_t>(SSL_pending(t->ssl)); }};
}

class TlsCheck : public iwtest::RealPeersTest {
  protected:
    static void SetUpTestSuite() { TestPki::Get(); }
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("tls") + "/registry.db"), REGSTORE_OK);
        Reg_SetMsgRootKey(nullptr);
        HREGKEY account; // records are written only for an account that exists
        ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Tls", &account),
                  REGSTORE_OK);
        Pop3Acc_SetHooks({});
        previous_ = UserMsg_SetHandler([this](std::string_view, std::string_view text, unsigned) {
            boxes_.emplace_back(text);
            return UM_IDOK;
        });
        iwtest::UseServer(acc_, "Tls", 0, "tls", "tlspw");
    }
    void TearDown() override {
        UserMsg_SetHandler(previous_);
        MsgBox_Destroy(&acc_.hMsgBox);
    }

    std::unique_ptr<iwtest::PrivatePop3> Serve(const std::string& cert, int messages) {
        iwtest::Pop3Options opt;
        opt.users = "tls:tlspw";
        opt.tls = true;
        opt.tls_cert = TestPki::Get().Cert(cert);
        opt.tls_key = TestPki::Get().Key(cert);
        auto server = peers().StartPop3(opt);
        server->SeedMaildir("tls", messages);
        return server;
    }

    ACCOUNT acc_;
    UserMsgHandler previous_;
    std::vector<std::string> boxes_;
};

TEST_F(TlsCheck, Pop3sAndStlsCheckFetchOneAndFastDelete) {
    auto server = Serve("good", 4);
    const struct {
        int32_t security;
        uint16_t port;
        const char* what;
    } ways[] = {{2, server->tls_port(), "POP3S"}, {1, server->port(), "STLS"}};
    int left = 4;
    for (const auto& w : ways) {
        SCOPED_TRACE(w.what);
        acc_.ChkSecurity = w.security;
        acc_.ChkPort = w.port;
        MsgBox_Destroy(&acc_.hMsgBox);
        auto out = RunCheck(acc_);
        ASSERT_EQ(out.rc, 0u) << out.error;
        ASSERT_EQ(MsgBox_GetCount(acc_.hMsgBox), left);

        const std::string id = BoxIds(acc_).back();
        GrowBuffer result;
        ASSERT_EQ(iwtest::FetchOne(acc_, id, &result), 0u);
        EXPECT_NE(std::string(result.Data()).find("Subject: Test message"), std::string::npos);

        FASTPOP3_RESULT r;
        ASSERT_EQ(FastDelete_Run(&acc_, {id}, nullptr, {}, &r), 0u) << r.errorText;
        EXPECT_EQ(r.deleted, std::vector<std::string>{id});
        --left;
    }
    // A certificate it may not trust: nothing deleted, and the whole
    // fingerprint in the text the user may pin from.
    auto stranger = Serve("stranger", 1);
    acc_.ChkSecurity = 2;
    acc_.ChkPort = stranger->tls_port();
    FASTPOP3_RESULT r;
    EXPECT_EQ(FastDelete_Run(&acc_, {SeededUidl(1)}, nullptr, {}, &r), ERR_OPERATION);
    EXPECT_EQ(r.errorText, "Unknown issuer, SHA-256 " + TestPki::Get().Fingerprint("stranger"));
    ASSERT_FALSE(boxes_.empty());
    EXPECT_EQ(boxes_.back(), "connect to server: " + r.errorText);
}

// What a server listed before STLS is forgotten once TLS is on: a
// PIPELINING that came only in clear (from anyone on the path) is not used;
// one listed again under TLS is.
TEST_F(TlsCheck, PipeliningListedOnlyBeforeStlsIsNotUsed) {
    for (const bool again : {false, true}) {
        SCOPED_TRACE(again ? "listed again under TLS" : "listed in clear only");
        MsgBox_Destroy(&acc_.hMsgBox);
        iwtest::FakeServer s;
        s.capa = "STLS\r\nPIPELINING\r\nUIDL\r\n";
        s.capaTls = again ? "UIDL\r\nPIPELINING\r\n" : "UIDL\r\nTOP\r\n";
        s.startTls = ServerTls;
        for (int i = 1; i <= 5; ++i)
            s.msgs.push_back(iwtest::FakeMsg(i));
        std::vector<std::string> seen;
        s.seen = &seen;
        iwtest::FakePeer peer([&](iwtest::PeerConn& c) { s.Serve(c); });
        acc_.ChkSecurity = 1;
        acc_.ChkPort = peer.port();
        const auto out = RunCheck(acc_);
        peer.Join();
        ASSERT_EQ(out.rc, 0u) << out.error;
        EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 5);
        EXPECT_EQ(s.pipelined > 0, again);
        EXPECT_EQ(seen,
                  (std::vector<std::string>{"CAPA", "STLS", "CAPA", "USER tls", "PASS tlspw",
                                            "STAT", "UIDL", "LIST", "TOP 1 0", "TOP 2 0", "TOP 3 0",
                                            "TOP 4 0", "TOP 5 0", "STAT", "QUIT"}));
    }
}

TEST_F(TlsCheck, SkipAndCancelEndAHandshakeThatGetsNoAnswer) {
    iwtest::FakePeer mute([](iwtest::PeerConn& c) { c.WaitClosed(); }, 2);
    acc_.ChkSecurity = 2;
    acc_.ChkPort = mute.port();
    acc_.ChkTmout = 60;
    for (const uint32_t code : {ERR_SKIPPED, ERR_CANCELLED}) {
        std::thread late([code] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            Pop3_Abort(code);
        });
        iwtest::Stopwatch sw;
        const auto out = RunCheck(acc_);
        late.join();
        EXPECT_EQ(out.rc, code);
        EXPECT_LT(sw.ElapsedMs(), 1500);
    }
}

} // namespace
