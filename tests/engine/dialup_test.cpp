// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's dial-up steps on the dial-up options, with a stand-in nmcli.
#include "../support/fake_nmcli.h"
#include "../support/temp_env.h"
#include "engine/dialup.h"
#include "net/ras.h"
#include "platform/registry.h"
#include "settings/globaldata.h"
#include "settings/reg.h"

#include <gtest/gtest.h>

namespace {

using iwtest::FakeNmcli;

class DialUpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("dialup") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        ASSERT_EQ(DialUp_Load(root_), 0u);
        Ras_Forget();
    }
    void TearDown() override {
        Ras_Forget();
        DialUp_Free();
        if (root_) Reg_Close(root_);
    }
    void Options(int mode, bool hangUp, bool keepIfNew, const char* entry) {
        DIALUP_DATA* d = DialUp_GetRecord();
        d->UseAutoDial = static_cast<uint8_t>(mode);
        d->UseAutoHangUp = hangUp;
        d->DontHangUpIfNew = keepIfNew;
        d->Entry = entry;
    }
    static void Start(std::string* shown = nullptr) {
        DialUp_OnCheckStart(
            [shown](std::string_view entry, std::string_view text) {
                if (shown) *shown = std::string(entry) + ": " + std::string(text);
            },
            nullptr);
    }
    static bool Called(const FakeNmcli& nm, const std::string& what) {
        return nm.Calls().find(what) != std::string::npos;
    }
    REGKEY* root_ = nullptr;
};

TEST_F(DialUpTest, AutoDialHangsUpUnlessNewMailKeepsTheLine) {
    FakeNmcli nm;
    Options(1, true, true, "ISP");
    std::string shown;
    Start(&shown);
    EXPECT_EQ(shown, "ISP: Dialing...");
    EXPECT_TRUE(Called(nm, "connection|up|id|ISP|"));
    // New mail: the line stays up and is forgotten...
    DialUp_OnCheckEnd(true);
    EXPECT_FALSE(Called(nm, "connection|down"));
    // ...so the next check finds it up, dials nothing and, without new mail,
    // still does not hang up a line it no longer counts as its own.
    nm.ClearCalls();
    Start();
    DialUp_OnCheckEnd(false);
    EXPECT_FALSE(Called(nm, "connection|up")) << nm.Calls();
    EXPECT_FALSE(Called(nm, "connection|down")) << nm.Calls();

    // Without "stay connected if new", the line it dialled goes down.
    nm.Write("active", "");
    Options(1, true, false, "ISP");
    Start();
    DialUp_OnCheckEnd(true);
    EXPECT_TRUE(Called(nm, "connection|down|id|ISP|"));
}

TEST_F(DialUpTest, ModeTwoChecksOnlyWhileALineIsUpOrAsModeZeroWithoutNetworkManager) {
    Options(2, true, false, "ISP");
    EXPECT_EQ(DialUp_RequiresConnection(), 1);
    {
        FakeNmcli nm;
        EXPECT_FALSE(DialUp_ConnectionUsable(true));
        nm.Write("active", "ISP:gsm:activated\n");
        EXPECT_TRUE(DialUp_ConnectionUsable(false)) << "the dial-up line is the network";
    }
    {
        FakeNmcli none(false);
        EXPECT_TRUE(DialUp_ConnectionUsable(true));
        EXPECT_FALSE(DialUp_ConnectionUsable(false));
    }
    Options(0, true, false, "ISP");
    EXPECT_EQ(DialUp_RequiresConnection(), 0);
    FakeNmcli nm;
    EXPECT_FALSE(DialUp_ConnectionUsable(false));
    EXPECT_EQ(nm.Calls(), "") << "modes 0 and 1 ask only the system";
}

} // namespace
