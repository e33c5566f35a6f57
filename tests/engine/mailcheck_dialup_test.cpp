// SPDX-License-Identifier: GPL-3.0-or-later
// The check engine's dial-up steps with a stand-in nmcli: a check dials the
// entry first and hangs it up at the end, and a cancel stops a dial at once.
// The accounts point at a closed port: a failed account still ends the check
// through the same steps.
#include "../support/fake_nmcli.h"
#include "../support/fake_peer.h"
#include "common/status.h"
#include "engine_env.h"
#include "net/ras.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using iwtest::EngineEnv;
using iwtest::FakeNmcli;
using iwtest::WaitForCheck;

class EngineDialUp : public ::testing::Test {
  protected:
    EngineDialUp() : env_(DateTime_Now()) {}
    void SetUp() override {
        env_.Open();
        acc_ = env_.AddAccounts({"a1"})[0];
        acc_->ChkServer = "127.0.0.1";
        acc_->ChkPort = iwtest::ClosedPort();
        acc_->ChkLogin = "u";
        acc_->ChkPswd = "p";
        acc_->ChkTmout = 5;
        ASSERT_EQ(DialUp_Load(env_.root), 0u);
        DIALUP_DATA* d = DialUp_GetRecord();
        d->UseAutoDial = 1;
        d->UseAutoHangUp = 1;
        d->DontHangUpIfNew = 1;
        d->Entry = "ISP";
    }
    void TearDown() override {
        env_.Close();
        DialUp_Free();
        Ras_Forget();
    }
    EngineEnv env_;
    ACCOUNT* acc_ = nullptr;
};

TEST_F(EngineDialUp, CancelWhileDiallingEndsTheCheckAtOnce) {
    FakeNmcli nm;
    nm.Write("up_sleep", "30\n");
    ASSERT_EQ(Queue_PushAndCheck(EngineEnv::IndexOf(acc_)), 1);
    // Cancel once the dial is under way.
    for (iwtest::Stopwatch wait; nm.Calls().find("connection|up") == std::string::npos;) {
        ASSERT_LT(wait.ElapsedMs(), 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    iwtest::Stopwatch sw;
    MailCheck_Abort(ERR_CANCELLED);
    ASSERT_TRUE(WaitForCheck());
    EXPECT_LT(sw.ElapsedMs(), 5000);
    EXPECT_NE(nm.Calls().find("connection|down|id|ISP|"), std::string::npos) << nm.Calls();
    EXPECT_STREQ(acc_->StatusText, "Operation canceled");
}

} // namespace
