// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "settings/account.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <vector>

namespace {

class AccountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("acc") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
    }
    void TearDown() override {
        Account_FreeAll();
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
    }
    HREGKEY key(const std::string& path) {
        HREGKEY k = HREGKEY_NONE;
        EXPECT_EQ(RegStore_CreateKey(root_->key, path, &k), REGSTORE_OK);
        return k;
    }
    bool exists(const std::string& path) {
        HREGKEY k;
        return RegStore_OpenKey(root_->key, path, &k) == REGSTORE_OK;
    }
    void setDword(const std::string& acc, const char* name, uint32_t v) {
        ASSERT_EQ(RegStore_SetValue(key(acc), name, REGTYPE_DWORD,
                                    std::string_view(reinterpret_cast<char*>(&v), 4)),
                  REGSTORE_OK);
    }
    std::vector<std::string> names() {
        std::vector<std::string> n;
        for (int i = 0; i < Account_GetCount(); ++i)
            n.push_back(Account_GetName(nullptr, i));
        return n;
    }
    REGKEY* root_ = nullptr;
};

TEST_F(AccountTest, LoadSortsSkipsReservedAndCorrects) {
    key("gamma");
    key("_GLB_SETTINGS_");
    key("_glb_settings_x");
    setDword("beta", "ChkTime", 1);
    setDword("beta", "ChkPort", 0);
    setDword("Alpha", "ChkTime", 0xFFFFFFFF); // negative: would make a timer that never waits
    setDword("Alpha", "SendTmout", 0);
    ASSERT_EQ(Account_Initialize(root_), 0u);
    EXPECT_EQ(names(), (std::vector<std::string>{"_glb_settings_x", "Alpha", "beta", "gamma"}));
    EXPECT_EQ(Account_Get("BETA", -1)->ChkTime, 10);
    EXPECT_EQ(Account_Get("beta", -1)->ChkPort, 110);
    EXPECT_EQ(Account_Get("alpha", -1)->ChkTime, 10);
    EXPECT_EQ(Account_Get("alpha", -1)->SendTmout, 30);
    EXPECT_EQ(Account_Get("nobody", -1), nullptr);
}

TEST_F(AccountTest, SaveAndLoadKeepTheirRules) {
    ASSERT_EQ(Account_Initialize(root_), 0u);
    uint32_t st = 1;
    ACCOUNT* a = Account_Add("Home", &st);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(st, 0u);
    // Every field's round trip is the settings tests'; here the rules.
    a->ChkPswd = "sécret";
    a->SendPswd = "other";
    a->SendPswdType = 2; // asked at every check: never stored
    a->ChkTime = 1;      // written as 10
    a->Schedule[0] = 0x001;
    a->Schedule[24] = 0xFFF;
    std::snprintf(a->LastSTAT, sizeof a->LastSTAT, "+OK 3 1200");
    a->PendingDeletes = 4;
    ASSERT_EQ(Account_Save(a, -1), 0u);
    const auto schedule = a->Schedule;
    HREGKEY k = key("Home");
    EXPECT_EQ(RegStore_QueryValue(k, "SendPswd", nullptr, nullptr), REGSTORE_E_NOT_FOUND);
    // A password left from earlier while the type says "ask" is not read.
    ASSERT_EQ(RegStore_SetValue(k, "SendPswd", REGTYPE_BINARY, Reg_ScramblePassword("stale")),
              REGSTORE_OK);

    ASSERT_EQ(Account_Initialize(root_), 0u);
    const ACCOUNT* b = Account_Get("home", -1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Name, "Home");
    EXPECT_EQ(b->ChkPswd, "sécret");
    EXPECT_EQ(b->SendPswd, "");
    EXPECT_EQ(b->ChkTime, 10);
    EXPECT_EQ(b->Schedule, schedule);
    EXPECT_STREQ(b->LastSTAT, "+OK 3 1200");
    EXPECT_EQ(b->PendingDeletes, 4);
}

TEST_F(AccountTest, TransportSecurityRoundTripsAndAbsentValuesKeepPlainText) {
    // Stores written before the security values existed: plain text on the
    // ports they had; only a port never set follows the security.
    setDword("old", "ChkPort", 110);
    setDword("pop3s", "ChkSecurity", 2);
    setDword("pop3s", "SendSecurity", 1);
    setDword("smtps", "SendSecurity", 2);
    setDword("smtps", "SendPort", 2525);
    setDword("smtps", "ChkPort", 0);
    ASSERT_EQ(Account_Initialize(root_), 0u);
    const ACCOUNT* old = Account_Get("old", -1);
    EXPECT_EQ(old->ChkSecurity, 0);
    EXPECT_EQ(old->SendSecurity, 0);
    EXPECT_EQ(old->ChkPort, 110);
    EXPECT_EQ(old->SendPort, 25);
    EXPECT_EQ(Account_Get("pop3s", -1)->ChkPort, 995);
    EXPECT_EQ(Account_Get("pop3s", -1)->SendPort, 587);
    EXPECT_EQ(Account_Get("smtps", -1)->SendPort, 2525);
    EXPECT_EQ(Account_Get("smtps", -1)->ChkPort, 110);

    ACCOUNT* a = Account_Get("old", -1);
    a->ChkSecurity = 1;
    a->ChkCertPolicy = 1;
    a->ChkCertPin = std::string(64, 'a');
    a->SendSecurity = 2;
    a->SendCertPolicy = 1;
    a->SendCertPin = std::string(64, '0');
    ASSERT_EQ(Account_Save(a, -1), 0u);
    ASSERT_EQ(Account_Initialize(root_), 0u);
    const ACCOUNT* b = Account_Get("old", -1);
    EXPECT_EQ(b->ChkSecurity, 1);
    EXPECT_EQ(b->ChkCertPolicy, 1);
    EXPECT_EQ(b->ChkCertPin, std::string(64, 'a'));
    EXPECT_EQ(b->SendSecurity, 2);
    EXPECT_EQ(b->SendCertPolicy, 1);
    EXPECT_EQ(b->SendCertPin, std::string(64, '0'));
    // Saved ports are the user's from now on.
    EXPECT_EQ(b->ChkPort, 110);
    EXPECT_EQ(b->SendPort, 25);
}

TEST_F(AccountTest, NamesAreUniqueAndSafe) {
    ASSERT_EQ(Account_Initialize(root_), 0u);
    uint32_t st = 0;
    ASSERT_NE(Account_Add("home", &st), nullptr);
    EXPECT_EQ(Account_Add("Home", &st), nullptr);
    EXPECT_EQ(st, ERR_EXISTS);
    EXPECT_EQ(Account_Add("", &st), nullptr);
    EXPECT_EQ(st, ERR_EMPTY_NAME);
    for (const char* bad :
         {"a\\b", "../x", "a]", "a\nb", ".", "..", "_GLB_SETTINGS_", "_glb_settings_", "x\x7f"}) {
        EXPECT_EQ(Account_Add(bad, &st), nullptr) << bad;
        EXPECT_EQ(st, ERR_BADARG) << bad;
        EXPECT_NE(Account_NameProblem(bad), nullptr) << bad;
    }
    for (const char* good : {"a.b", "...", "Zoë's mail [old"})
        EXPECT_NE(Account_Add(good, &st), nullptr) << good;
    EXPECT_EQ(Account_Rename(Account_Get("home", -1), "a/b"), ERR_BADARG);
}

// The settings and records that move with the account are the command-line
// and settings tests'; here the naming rules and the order.
TEST_F(AccountTest, RenameKeepsTheNamesUniqueAndSorted) {
    ASSERT_EQ(Account_Initialize(root_), 0u);
    uint32_t st;
    ACCOUNT* a = Account_Add("a", &st);
    ACCOUNT* z = Account_Add("z", &st);
    ASSERT_EQ(Account_Save(a, -1), 0u);
    EXPECT_EQ(Account_Rename(a, "a"), 1u);
    EXPECT_EQ(Account_Rename(a, "A"), ERR_EXISTS); // the uniqueness test finds the account itself
    EXPECT_EQ(Account_Rename(a, "Z"), ERR_EXISTS);
    ASSERT_EQ(Account_Rename(a, "zz"), 0u);
    EXPECT_EQ(a->Name, "zz");
    EXPECT_EQ(names(), (std::vector<std::string>{"z", "zz"}));
    EXPECT_FALSE(exists("a"));
    EXPECT_EQ(Account_IndexOf(z, nullptr), 0u);
}

// The store refuses the delete after the copy: nothing may be lost and the
// caller must hear of it.
TEST_F(AccountTest, FailedRenameKeepsEverything) {
    ASSERT_EQ(Account_Initialize(root_), 0u);
    uint32_t st;
    ACCOUNT* a = Account_Add("old", &st);
    a->ChkServer = "pop.old";
    ASSERT_EQ(Account_Save(a, -1), 0u);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(RegStore_Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER nodel BEFORE DELETE ON keys BEGIN "
                           "SELECT RAISE(ABORT, 'refused'); END;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::string why;
    EXPECT_EQ(Account_Rename(a, "new", &why), ERR_OPERATION);
    sqlite3_exec(db, "DROP TRIGGER nodel", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(a->Name, "old");
    EXPECT_EQ(Account_Get("old", -1), a);
    EXPECT_EQ(Account_Get("new", -1), nullptr);
    EXPECT_TRUE(exists("old"));
    EXPECT_FALSE(exists("new"));
    EXPECT_EQ(why.rfind("Failed to delete registry entries for old", 0), 0u) << why;
}

TEST_F(AccountTest, MarkSkippedOnlyWhatIsLeftOut) {
    ASSERT_EQ(Account_Initialize(root_), 0u);
    uint32_t st;
    ACCOUNT* a = Account_Add("a", &st);
    ACCOUNT* b = Account_Add("b", &st);
    b->CheckIt = 0;
    b->hMsgBox->Counts = {1, 2, 3, 4, 5, 6};
    Account_MarkSkipped();
    EXPECT_STREQ(b->StatusText, "Skipped...");
    EXPECT_EQ(b->hMsgBox->Counts.Old, 0);
    EXPECT_EQ(b->hMsgBox->Counts.Size, 6);
    EXPECT_STREQ(a->StatusText, "");
}

} // namespace
