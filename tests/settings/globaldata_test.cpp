// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "platform/autostart.h"
#include "settings/globaldata.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

int g_opens = 0;
FILTER_HANDLE fakeHandle() {
    return reinterpret_cast<FILTER_HANDLE>(uintptr_t{0x1000});
}
uint32_t fakeOpen(const std::string&, const char*, FILTER_HANDLE* out) {
    ++g_opens;
    *out = fakeHandle();
    return 0;
}
uint32_t fakeClose(FILTER_HANDLE* h) {
    *h = nullptr;
    return 0;
}
uint32_t fakeAssign(FILTER_HANDLE, const char*, const char*) {
    return 0;
}
uint32_t fakeChange(FILTER_HANDLE, const std::string&, const std::string&, const char*) {
    return 0;
}
const ACCOUNT_FILTER_OPS kFakeOps{fakeOpen, fakeClose, fakeAssign, fakeChange};

class GlobalDataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("gd") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Account_SetFilterOps(&kFakeOps);
        g_opens = 0;
    }
    void TearDown() override {
        GlobalData_Free(0);
        DialUp_Free();
        GlobalData_SetManageLogon(false);
        Account_SetFilterOps(nullptr);
        Reg_Close(root_);
    }
    intptr_t param(int n, uint32_t expect = 0) {
        intptr_t v = 12345;
        EXPECT_EQ(GlobalData_GetParam(n, &v), expect) << "param " << n;
        return v;
    }
    void setDword(const char* name, uint32_t v) {
        ASSERT_EQ(Reg_SetValue(root_, HREGKEY_NONE, name, &v, 4, REG_T_DWORD), 0u);
    }
    REGKEY* root_ = nullptr;
};

// The defaults themselves are the option table's; what matters is that
// nothing is read before loading and unknown numbers stay unknown.
TEST_F(GlobalDataTest, EmptyStoreLoadsAndUnknownParamsAreRefused) {
    intptr_t v;
    EXPECT_EQ(GlobalData_GetParam(5, &v), ERR_NOT_READY);
    EXPECT_EQ(GlobalData_SetParam(5, 1), ERR_NOT_READY);
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    EXPECT_EQ(param(45, ERR_BADARG), 0); // never set: the window uses its own default
    EXPECT_EQ(g_opens, 1);               // the global filter context
}

TEST_F(GlobalDataTest, LoadCorrections) {
    setDword("NewMailVisual", 7);
    setDword("ButtonSize", 3);
    setDword("LogoSize", 2);
    setDword("MsgDlg_X", 0); // a set geometry value of 0 is a value, not "unset"
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    EXPECT_EQ(param(GD_NEWMAILVISUAL), 2);
    EXPECT_EQ(param(GD_BUTTONSIZE), 1);
    EXPECT_EQ(param(GD_LOGOSIZE), 2);
    EXPECT_EQ(param(46), 0);
}

// The fields' own round trip is the full-configuration test's; here the
// parameters that are not stored, stored directly, or text.
TEST_F(GlobalDataTest, SaveAndLoadParametersOfEachKind) {
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    ASSERT_EQ(GlobalData_SetParam(GD_RUNTIME8, 1), 0u); // not stored
    ASSERT_EQ(GlobalData_SetParam(GD_ENABLED, 0), 0u);  // direct
    ASSERT_EQ(GlobalData_SetParam(GD_LASTTXTSEARCH, reinterpret_cast<intptr_t>("needle")), 0u);
    ASSERT_EQ(GlobalData_Save(), 0u);
    GlobalData_Free(0);
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    EXPECT_EQ(param(GD_RUNTIME8), 0);
    EXPECT_EQ(param(GD_ENABLED), 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(param(GD_LASTTXTSEARCH)), "needle");
}

TEST_F(GlobalDataTest, FilterFileChangeReopensOnlyWhenDifferent) {
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    ASSERT_EQ(g_opens, 1);
    ASSERT_EQ(GlobalData_SetParam(GD_GLBFILTERFILE, reinterpret_cast<intptr_t>("")), 0u);
    EXPECT_EQ(g_opens, 1);
    ASSERT_EQ(GlobalData_SetParam(GD_GLBFILTERFILE, reinterpret_cast<intptr_t>("/x.flt")), 0u);
    EXPECT_EQ(g_opens, 2);
    EXPECT_EQ(param(GD_GLBFILTER), reinterpret_cast<intptr_t>(fakeHandle()));
}

TEST_F(GlobalDataTest, IntervalNeverOverflowsNorFiresAtOnce) {
    EXPECT_EQ(GlobalData_IntervalMs(-1), 600000);
    EXPECT_EQ(GlobalData_IntervalMs(0), 600000);
    EXPECT_EQ(GlobalData_IntervalMs(1), 600000);
    EXPECT_EQ(GlobalData_IntervalMs(2), 120000);
    EXPECT_EQ(GlobalData_IntervalMs(35791), 35791 * 60000);
    EXPECT_EQ(GlobalData_IntervalMs(35792), INT_MAX);
    EXPECT_EQ(GlobalData_IntervalMs(INT_MAX), INT_MAX);
}

// The dial-up options' round trip is the full-configuration test's.
TEST_F(GlobalDataTest, DialUpSaveRefusedWithoutAnEntryToDial) {
    EXPECT_EQ(DialUp_Save(), ERR_NOT_READY);
    ASSERT_EQ(DialUp_Load(root_), 0u);
    DialUp_GetRecord()->UseAutoDial = 1;
    EXPECT_EQ(DialUp_Save(), ERR_BADARG);
}

TEST_F(GlobalDataTest, LogonEntryFollowsStartOnLogonOnlyWhenManaged) {
    Autostart_Set(false, "");
    ASSERT_EQ(GlobalData_Load(root_), 0u);
    GlobalData_GetRecord()->StartOnLogon = 1;
    ASSERT_EQ(GlobalData_Save(), 0u);
    EXPECT_FALSE(Autostart_IsSet()); // a run on an explicit profile leaves it alone
    GlobalData_SetManageLogon(true);
    ASSERT_EQ(GlobalData_Save(), 0u);
    EXPECT_TRUE(Autostart_IsSet());
    GlobalData_GetRecord()->StartOnLogon = 0;
    ASSERT_EQ(GlobalData_Save(), 0u);
    EXPECT_FALSE(Autostart_IsSet());
}

} // namespace
