// SPDX-License-Identifier: GPL-3.0-or-later
// The account check against a real POP3 server (and real SOCKS proxies).
#include "check_harness.h"
#include "common/status.h"
#include "settings/msgbox_reg.h"
#include "support/real_peers.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using iwtest::BoxIds;
using iwtest::Find;
using iwtest::RunCheck;
using iwtest::SeededUidl;

class RealCheck : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("real") + "/registry.db"), REGSTORE_OK);
        Reg_SetMsgRootKey(nullptr);
        Pop3Acc_SetHooks({});
        iwtest::UseServer(acc_, "Real", peers().pop3_port(), peers().user().name,
                          peers().user().password);
    }
    void TearDown() override { MsgBox_Destroy(&acc_.hMsgBox); }
    ACCOUNT acc_;
};

TEST_F(RealCheck, UserPassThenApopNewKnownMarkedAndGone) {
    peers().SeedMaildir(acc_.ChkLogin, 4);
    auto out = RunCheck(acc_);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{SeededUidl(1), SeededUidl(2), SeededUidl(3),
                                                      SeededUidl(4)}));
    MSG_RECORD* r = Find(acc_, SeededUidl(3));
    EXPECT_STREQ(r->Subject(), "Test message 3");
    EXPECT_EQ(r->Status, MSG_NEW);
    EXPECT_GT(r->Size, 200);
    EXPECT_NE(std::string(r->SizeText()).find("KB"), std::string::npos);

    // APOP from now on; mark one for deletion; remove another behind our back.
    acc_.ChkAuthType = 1;
    MsgBox_SetStatus(acc_.hMsgBox, Find(acc_, SeededUidl(2)), -1, MSG_TO_DELETE, &acc_);
    const std::string cur = peers().pop3().Maildir(acc_.ChkLogin);
    for (const char* sub : {"/new", "/cur"})
        for (const auto& e : std::filesystem::directory_iterator(cur + sub))
            if (e.path().filename().string().rfind(SeededUidl(4), 0) == 0)
                std::filesystem::remove(e.path());
    out = RunCheck(acc_);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(BoxIds(acc_), (std::vector<std::string>{SeededUidl(1), SeededUidl(3)}));
    EXPECT_EQ(Find(acc_, SeededUidl(1))->Status, MSG_NOTIFIED);

    // The server really deleted it: the next check lists two.
    out = RunCheck(acc_);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(std::string(acc_.LastSTAT).rfind("+OK 2 ", 0), 0u) << acc_.LastSTAT;
}

// SOCKS 5 with a name the proxy resolves is the POP3 TLS test's (STLS to
// "localhost"), with the account check the engine's TLS and send tests'.
TEST_F(RealCheck, ThroughSocks4) {
    peers().SeedMaildir(acc_.ChkLogin, 2);
    CHECK_SETTINGS via;
    via.ProxySocksServer = "127.0.0.1";
    via.ProxySocksParam = (4u << 24) | peers().socks_port();
    const auto out = RunCheck(acc_, CHECK_TIMED, via);
    ASSERT_EQ(out.rc, 0u) << out.error;
    EXPECT_EQ(MsgBox_GetCount(acc_.hMsgBox), 2);
}

} // namespace
