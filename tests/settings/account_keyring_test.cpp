// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of passwords kept in the desktop keyring, over a keyring in
// memory: what reaches the store, the keyring and the check.
#include "../support/memory_keyring.h"
#include "../support/temp_env.h"
#include "common/status.h"
#include "platform/keyring.h"
#include "settings/account.h"
#include "settings/msgbox_reg.h"

#include <gtest/gtest.h>

namespace {

class KeyringAccountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Keyring_SetBackend(&keyring_);
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("kr") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        ASSERT_EQ(Account_Initialize(root_), 0u);
    }
    void TearDown() override {
        Account_FreeAll();
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
        Keyring_SetBackend(nullptr);
    }
    ACCOUNT* add(const char* name, int32_t chkStore, int32_t sendStore = 0) {
        uint32_t st = 0;
        ACCOUNT* a = Account_Add(name, &st);
        EXPECT_NE(a, nullptr);
        a->ChkServer = "pop.example";
        a->ChkLogin = "me";
        a->ChkPswd = "pop-secret";
        a->ChkPswdStore = chkStore;
        a->SendSecured = 1;
        a->SendServer = "smtp.example";
        a->SendLogin = "me2";
        a->SendPswd = "smtp-secret";
        a->SendPswdStore = sendStore;
        return a;
    }
    // The password value as stored, or "(none)".
    std::string stored(const std::string& acc, const char* name) {
        HREGKEY k = HREGKEY_NONE;
        if (RegStore_OpenKey(root_->key, acc, &k) != REGSTORE_OK) return "(no key)";
        std::string v;
        if (Reg_GetValue(root_, k, name, &v, nullptr, REG_T_PSWD) != 0 || v.empty())
            return "(none)";
        return v;
    }
    ACCOUNT* reload(const char* name) {
        EXPECT_EQ(Account_Initialize(root_), 0u);
        return Account_Get(name, -1);
    }
    iwtest::MemoryKeyring keyring_;
    REGKEY* root_ = nullptr;
};

const KEYRING_ITEM kPop{"Home", "pop.example", "me", KEYRING_PROTOCOL::POP3};

TEST_F(KeyringAccountTest, PasswordLivesInTheKeyringOnlyAndIsFetchedOnce) {
    ACCOUNT* a = add("Home", ACCOUNT_PSWD_IN_KEYRING);
    std::string problem;
    ASSERT_EQ(Account_Save(a, -1, &problem), 0u);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(stored("Home", "ChkPswd"), "(none)");
    EXPECT_EQ(stored("Home", "SendPswd"), "smtp-secret") << "the SMTP login keeps the store";
    ASSERT_EQ(keyring_.entries.size(), 1u);
    EXPECT_EQ(keyring_.entries[0].item, kPop);
    EXPECT_EQ(keyring_.entries[0].secret, "pop-secret");

    a = reload("Home");
    EXPECT_EQ(a->ChkPswd, "") << "nothing fetched before it is needed";
    keyring_.calls = 0;
    EXPECT_EQ(Account_PasswordType(a, false), 0);
    EXPECT_EQ(a->ChkPswd, "pop-secret");
    EXPECT_EQ(Account_PasswordType(a, false), 0);
    EXPECT_EQ(Account_PasswordType(a, true), 0);
    EXPECT_EQ(keyring_.calls, 1) << "one look-up per run, none for a stored password";
}

TEST_F(KeyringAccountTest, AccountsWithoutTheKeyringNeverReachIt) {
    ACCOUNT* a = add("Plain", ACCOUNT_PSWD_IN_STORE);
    ASSERT_EQ(Account_Save(a, -1), 0u);
    a = reload("Plain");
    EXPECT_EQ(Account_PasswordType(a, false), 0);
    ASSERT_EQ(Account_Rename(a, "Plainer"), 0u);
    ASSERT_EQ(Account_Delete(a), 0u);
    EXPECT_EQ(keyring_.calls, 0);
}

// A changed server or login takes the entry along, as a stored password
// would be; leaving the keyring brings the password back into the store.
TEST_F(KeyringAccountTest, EntryFollowsTheAccountsChoices) {
    ASSERT_EQ(Account_Save(add("Home", ACCOUNT_PSWD_IN_KEYRING), -1), 0u);
    ACCOUNT* a = reload("Home");
    a->ChkServer = "pop2.example";
    ASSERT_EQ(Account_Save(a, -1), 0u);
    ASSERT_EQ(keyring_.entries.size(), 1u);
    EXPECT_EQ(keyring_.entries[0].item.server, "pop2.example");
    EXPECT_EQ(keyring_.entries[0].secret, "pop-secret");

    a = reload("Home");
    a->ChkPswd = "typed";
    ASSERT_EQ(Account_Save(a, -1), 0u);
    ASSERT_EQ(keyring_.entries.size(), 1u);
    EXPECT_EQ(keyring_.entries[0].secret, "typed");

    a = reload("Home");
    a->ChkPswdStore = ACCOUNT_PSWD_IN_STORE;
    ASSERT_EQ(Account_Save(a, -1), 0u);
    EXPECT_TRUE(keyring_.entries.empty());
    EXPECT_EQ(stored("Home", "ChkPswd"), "typed");

    a = reload("Home");
    a->ChkPswdStore = ACCOUNT_PSWD_IN_KEYRING;
    a->ChkPswdType = 2; // asked every time: kept nowhere
    ASSERT_EQ(Account_Save(a, -1), 0u);
    EXPECT_TRUE(keyring_.entries.empty());
    EXPECT_EQ(stored("Home", "ChkPswd"), "(none)");
}

// Whatever keeps the keyring from giving the password, the login becomes
// "Ask Once" for the run and says so: never an empty password.
TEST_F(KeyringAccountTest, NoPasswordFromTheKeyringMeansAskOnce) {
    struct Case {
        uint32_t fail;
        bool entry;
        const char* status;
        bool typedIsKept;
    };
    const Case cases[] = {
        {ERR_NOT_READY, true, "Desktop keyring unavailable: password asked once", false},
        {ERR_CANCELLED, true, "Desktop keyring unavailable: password asked once", false},
        {0, false, "No password in the desktop keyring: asked once", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        ASSERT_EQ(Account_Save(add("Home", ACCOUNT_PSWD_IN_KEYRING), -1), 0u);
        if (!c.entry) keyring_.entries.clear();
        ACCOUNT* a = reload("Home");
        keyring_.fail = c.fail;
        EXPECT_EQ(Account_PasswordType(a, false), 1);
        EXPECT_EQ(a->ChkPswd, "");
        EXPECT_STREQ(a->StatusText, c.status);
        const int calls = keyring_.calls;
        a->StatusText[0] = '\0';
        EXPECT_EQ(Account_PasswordType(a, false), 1) << "the next check of the run";
        EXPECT_STREQ(a->StatusText, c.status);
        EXPECT_EQ(keyring_.calls, calls) << "not asked again in this run";

        Account_KeepTypedPassword(a, false, "typed");
        EXPECT_EQ(Account_PasswordType(a, false), c.typedIsKept ? 0 : 1);
        keyring_.fail = 0;
        std::string got;
        EXPECT_EQ(Keyring_Lookup(kPop, &got), c.entry || c.typedIsKept ? 0u : ERR_NOT_FOUND);
        if (c.typedIsKept) {
            EXPECT_EQ(got, "typed");
        }
        ASSERT_EQ(Account_Delete(a), 0u);
    }
}

TEST_F(KeyringAccountTest, UnreachableKeyringOnSaveKeepsThePasswordForTheRun) {
    ACCOUNT* a = add("Home", ACCOUNT_PSWD_IN_KEYRING);
    keyring_.fail = ERR_NOT_READY;
    std::string problem;
    ASSERT_EQ(Account_Save(a, -1, &problem), 0u);
    EXPECT_NE(problem, "");
    EXPECT_EQ(problem.find("pop-secret"), std::string::npos);
    EXPECT_EQ(stored("Home", "ChkPswd"), "(none)");
    EXPECT_EQ(Account_PasswordType(a, false), 0);
    EXPECT_EQ(a->ChkPswd, "pop-secret");
}

// A profile exported with its passwords carries them into the store; on
// load they move into this machine's keyring, or stay until it can take them.
TEST_F(KeyringAccountTest, CarriedPasswordMovesIntoTheKeyring) {
    for (const uint32_t fail : {ERR_NOT_READY, 0u}) {
        SCOPED_TRACE(fail);
        keyring_.fail = 0;
        keyring_.entries.clear();
        ACCOUNT* a = add("Home", ACCOUNT_PSWD_IN_STORE);
        ASSERT_EQ(Account_Save(a, -1), 0u);
        a->ChkPswdStore = ACCOUNT_PSWD_IN_KEYRING;
        HREGKEY k = HREGKEY_NONE;
        ASSERT_EQ(RegStore_OpenKey(root_->key, "Home", &k), REGSTORE_OK);
        const int32_t one = 1;
        ASSERT_EQ(Reg_SetValue(root_, k, "ChkPswdStore", &one, 4, REG_T_DWORD), 0u);
        keyring_.fail = fail;
        a = reload("Home");
        EXPECT_EQ(a->ChkPswd, "pop-secret");
        EXPECT_EQ(stored("Home", "ChkPswd"), fail ? "pop-secret" : "(none)");
        EXPECT_EQ(keyring_.entries.size(), fail ? 0u : 1u);
        keyring_.fail = 0;
        ASSERT_EQ(Account_Delete(a), 0u);
    }
}

} // namespace
