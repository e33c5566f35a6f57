// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog's rules on a real store: what a save validates, in
// which order, what it writes and what it leaves alone.
#include "../../support/temp_env.h"
#include "common/status.h"
#include "platform/registry.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/msgbox.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "ui/settings/settings_model.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using StoreDump = std::map<std::string, std::string>;

void dump(HREGKEY key, const std::string& path, StoreDump* out) {
    RegStore_ForEachValue(key, [&](std::string_view name, uint32_t, std::string_view data) {
        (*out)[path + "|" + std::string(name)] = std::string(data);
        return true;
    });
    std::string sub;
    for (uint32_t i = 0; RegStore_EnumKey(key, i, &sub) == REGSTORE_OK; ++i) {
        HREGKEY child = HREGKEY_NONE;
        if (RegStore_OpenKey(key, sub, &child) == REGSTORE_OK) dump(child, path + "/" + sub, out);
    }
}

// Entries of `a` that `b` lacks or holds otherwise, by path.
std::vector<std::string> changed(const StoreDump& a, const StoreDump& b) {
    std::vector<std::string> out;
    for (const auto& [k, v] : a)
        if (auto it = b.find(k); it == b.end() || it->second != v) out.push_back(k);
    for (const auto& [k, v] : b)
        if (!a.count(k)) out.push_back(k);
    return out;
}

class SettingsModel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("settingsmodel") + "/registry.db"),
                  REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        ASSERT_EQ(GlobalData_Load(root_), 0u);
        ASSERT_EQ(DialUp_Load(root_), 0u);
        ASSERT_EQ(Account_Initialize(root_), 0u);
    }
    void TearDown() override {
        Account_FreeAll();
        DialUp_Free();
        GlobalData_Free(0);
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
    }
    // The table as the next start builds it from the store.
    void reload() {
        Account_FreeAll();
        ASSERT_EQ(Account_Initialize(root_), 0u);
        ASSERT_EQ(Account_GetMessages(root_, false), 0u);
    }
    StoreDump store() const {
        StoreDump d;
        dump(root_->key, "", &d);
        return d;
    }
    // A stored account with one record of every status.
    ACCOUNT* stored(const char* name) {
        ACCOUNT_FORM f = AccountForm_FromAccount(nullptr);
        f.name = name;
        f.chkServer = std::string("pop.") + name;
        ACCOUNT* a = nullptr;
        SETTINGS_MESSAGE m;
        EXPECT_EQ(AccountForm_Save(&f, &a, &m), 0u) << m.text;
        for (int32_t status = MSG_NEW; status <= MSG_DELETED; ++status) {
            MSG_RECORD r = MsgRecord_Empty();
            r.SetText(MSGF_ID, std::string(name) + "-" + std::to_string(status));
            r.SetText(MSGF_SUBJECT, "s");
            r.Date = DATETIME{2025, 3, 0, 1, 12, 0, 0, 0};
            r.Status = status;
            EXPECT_EQ(MsgBox_AddMsg(&a->hMsgBox, &r, a, 1), 0u);
        }
        return a;
    }
    uint32_t save(ACCOUNT_FORM f, ACCOUNT** a, std::string* text = nullptr) {
        SETTINGS_MESSAGE m;
        const uint32_t rc = AccountForm_Save(&f, a, &m);
        if (text) *text = m.text;
        return rc;
    }

    REGKEY* root_ = nullptr;
};

TEST_F(SettingsModel, ValidationSpeaksInOrderAndStoresNothingUntilAllPass) {
    stored("Work");
    const StoreDump before = store();
    struct Case {
        const char* name;
        const char* minutes;
        bool useSchedule;
        const char* message;
    };
    // Each row breaks its own rule and every later one: the first is told.
    const Case cases[] = {
        {"", "x", true, "Empty account name."},
        {"   ", "x", true, "Empty account name."},
        {"a/b", "x", true, "Invalid account name."},
        {"_GLB_SETTINGS_", "x", true, "Invalid account name."},
        {" work ", "x", true, "Account exist."},
        {"Home", "x", true, "GetInt -- Not correct value"},
        {"Home", "-5", true, "GetInt -- Not correct value"},
        {"Home", "99999999999", true, "GetInt -- Not correct value"},
        {"Home", "10", true, "No Schedule!"},
    };
    for (const Case& c : cases) {
        ACCOUNT_FORM f = AccountForm_FromAccount(nullptr);
        f.name = c.name;
        f.chkTime = c.minutes;
        f.useSchedule = c.useSchedule;
        ACCOUNT* a = nullptr;
        std::string text;
        EXPECT_EQ(save(f, &a, &text), ERR_BADARG) << c.name;
        EXPECT_EQ(text, c.message) << c.name;
        EXPECT_EQ(a, nullptr);
    }
    EXPECT_EQ(Account_GetCount(), 1);
    EXPECT_TRUE(changed(before, store()).empty());

    // A schedule entry, or leaving the account out of automatic checks, is enough.
    ACCOUNT_FORM f = AccountForm_FromAccount(nullptr);
    f.name = "Home";
    f.useSchedule = true;
    f.checkIt = false;
    ACCOUNT* a = nullptr;
    EXPECT_EQ(save(f, &a), 0u);
    f.name = "Home2";
    f.checkIt = true;
    f.schedule[7] = 1;
    a = nullptr;
    EXPECT_EQ(save(f, &a), 0u);
}

// Every control's value reaches the store and comes back at the next start.
TEST_F(SettingsModel, EveryAccountValueIsWrittenToTheStore) {
    ACCOUNT_FORM f;
    f.name = "  Mail  ";
    f.checkIt = false;
    f.useSchedule = true;
    f.schedule[0] = 0x0801;
    f.schedule[24] = 0x0002;
    f.chkTime = " 25 ";
    f.fullUserName = "Ann Example";
    f.email = "ann@example.org";
    f.replyAdr = "reply@example.org";
    f.chkServer = "pop.example.org";
    f.chkLogin = "ann";
    f.chkPswd = {true, "secret"};
    f.dontCleanOldMsgs = true;
    f.sendServer = "smtp.example.org";
    f.autoApplySig = true;
    f.signature = "--\nAnn";
    f.mailClnt = "/usr/bin/mailer";
    f.newMailSnd = "/tmp/ding.wav";
    f.chkPort = 995;
    f.chkTmout = 45;
    f.chkAuthType = 1;
    f.chkSecurity = ACCOUNT_SECURITY_TLS;
    f.chkCertPolicy = ACCOUNT_CERT_PINNED;
    f.chkCertPin = std::string(64, 'a');
    f.sendPort = 587;
    f.sendTmout = 50;
    f.sendSecured = 1;
    f.sendLogin = "ann-out";
    f.sendPswd = {true, "out-secret"};
    f.sendAuthType = 2;
    f.sendSecurity = ACCOUNT_SECURITY_STARTTLS;
    f.sendCertPolicy = ACCOUNT_CERT_PINNED;
    f.sendCertPin = std::string(64, 'b');
    ACCOUNT* a = nullptr;
    ASSERT_EQ(save(f, &a), 0u);
    reload();
    a = Account_Get("Mail", -1);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Name, "Mail");
    EXPECT_EQ(a->ChkPswd, "secret");
    EXPECT_EQ(a->SendPswd, "out-secret");
    ACCOUNT_FORM expected = f;
    expected.name = "Mail";
    expected.chkTime = "25";
    expected.chkPswd = {};
    expected.sendPswd = {};
    EXPECT_EQ(AccountForm_FromAccount(a), expected);
    EXPECT_FALSE(AccountForm_Differs(expected, a));

    // The choices that discard what they no longer use.
    ACCOUNT_FORM g = AccountForm_FromAccount(a);
    g.chkPswdType = 2; // asked at every check: nothing kept
    g.sendSecured = 2; // as incoming: no login of its own
    ASSERT_EQ(save(g, &a), 0u);
    reload();
    a = Account_Get("Mail", -1);
    EXPECT_EQ(a->ChkPswd, "");
    EXPECT_EQ(a->ChkPswdType, 2);
    EXPECT_EQ(a->SendLogin, "");
    EXPECT_EQ(a->SendPswd, "");
    EXPECT_EQ(a->SendSecured, 2);
}

TEST_F(SettingsModel, PasswordsChangeOnlyWhenTyped) {
    ACCOUNT_FORM f = AccountForm_FromAccount(nullptr);
    f.name = "Work";
    f.chkPswd = {true, "one"};
    ACCOUNT* a = nullptr;
    ASSERT_EQ(save(f, &a), 0u);

    ACCOUNT_FORM shown = AccountForm_FromAccount(a);
    EXPECT_FALSE(shown.chkPswd.edited);
    EXPECT_FALSE(AccountForm_Differs(shown, a)) << "an untouched field is no change";
    shown.chkPswd = {true, "one"};
    EXPECT_FALSE(AccountForm_Differs(shown, a)) << "the same password typed again";
    shown.chkPswd = {true, ""};
    EXPECT_TRUE(AccountForm_Differs(shown, a)) << "a cleared field is a change";

    shown = AccountForm_FromAccount(a);
    shown.chkServer = "pop.example.org";
    ASSERT_EQ(save(shown, &a), 0u);
    reload();
    a = Account_Get("Work", -1);
    EXPECT_EQ(a->ChkPswd, "one") << "not edited: unchanged";

    shown = AccountForm_FromAccount(a);
    shown.chkPswd = {true, ""};
    ASSERT_EQ(save(shown, &a), 0u);
    reload();
    EXPECT_EQ(Account_Get("Work", -1)->ChkPswd, "") << "edited empty: an empty password";
}

// Saves change their own account and nothing else: records of every status
// in every box, the other accounts, a renamed account's box.
TEST_F(SettingsModel, SavesRenamesAndDeletesKeepEverythingElse) {
    ACCOUNT* work = stored("Work");
    stored("Home");
    stored("Club");
    reload();
    // What a start loads (a record found deleted is dropped then).
    const int records = MsgBox_GetCount(Account_Get("Club", -1)->hMsgBox);
    EXPECT_EQ(records, MSG_DELETED);
    StoreDump before = store();

    // A name that differs only by blanks renames nothing.
    work = Account_Get("Work", -1);
    ACCOUNT_FORM f = AccountForm_FromAccount(work);
    f.name = "  Work \t";
    EXPECT_FALSE(AccountForm_Differs(f, work));
    ASSERT_EQ(save(f, &work), 0u);
    EXPECT_EQ(work->Name, "Work");
    EXPECT_TRUE(changed(before, store()).empty());

    // An edit rewrites that account's values only.
    f.signature = "sig";
    ASSERT_EQ(save(f, &work), 0u);
    for (const std::string& k : changed(before, store()))
        EXPECT_NE(k.find("/Work|Signature"), std::string::npos) << k;

    // A rename carries the box and its records.
    before = store();
    f = AccountForm_FromAccount(work);
    f.name = "Office";
    ASSERT_EQ(save(f, &work), 0u);
    reload();
    ACCOUNT* office = Account_Get("Office", -1);
    ASSERT_NE(office, nullptr);
    EXPECT_EQ(Account_Get("Work", -1), nullptr);
    EXPECT_EQ(MsgBox_GetCount(office->hMsgBox), records);
    StoreDump renamed;
    for (const auto& [k, v] : before)
        renamed[k.rfind("/Work", 0) == 0 ? "/Office" + k.substr(5) : k] = v;
    EXPECT_TRUE(changed(renamed, store()).empty());

    // A delete takes its own branch only.
    before = store();
    ASSERT_EQ(Account_Delete(Account_Get("Home", -1)), 0u);
    for (const std::string& k : changed(before, store()))
        EXPECT_EQ(k.rfind("/Home", 0), 0u) << k;
    reload();
    EXPECT_EQ(Account_GetCount(), 2);
    EXPECT_EQ(MsgBox_GetCount(Account_Get("Club", -1)->hMsgBox), records);
}

TEST_F(SettingsModel, CaseOnlyRenameIsRefusedNotHalfDone) {
    ACCOUNT* work = stored("Work");
    ACCOUNT_FORM f = AccountForm_FromAccount(work);
    f.name = "WORK";
    std::string text;
    EXPECT_EQ(save(f, &work, &text), ERR_BADARG);
    EXPECT_EQ(text, "Account exist.");
    EXPECT_EQ(work->Name, "Work");
}

TEST_F(SettingsModel, GlobalPagesShowAndStoreTheirValues) {
    GLOBAL_DATA* g = GlobalData_GetRecord();
    g->NewMailVisual = 0;
    g->ReplyPrepend.clear();
    COMMON_FORM c = CommonForm_FromGlobal(g, 0, 0);
    EXPECT_EQ(c.newMailVisual, NMV_POPUP) << "0 shows as the notification message";
    EXPECT_EQ(c.replyPrepend, SETTINGS_REPLY_PREPEND_DEFAULT);
    SETTINGS_MESSAGE m;
    c.nLinesDwnLoad = "ten";
    EXPECT_EQ(CommonForm_Apply(c, g, &m), ERR_BADARG);
    EXPECT_EQ(m.text, "GetInt -- Not correct value");
    EXPECT_EQ(g->NewMailVisual, 0) << "a failed apply changes nothing";
    c.nLinesDwnLoad = "25";
    ASSERT_EQ(CommonForm_Apply(c, g, &m), 0u);
    ASSERT_EQ(GlobalData_Save(), 0u);
    ASSERT_EQ(GlobalData_Reload(), 0u);
    g = GlobalData_GetRecord();
    EXPECT_EQ(g->NewMailVisual, NMV_POPUP) << "and is saved as 2";
    EXPECT_EQ(g->NLinesDwnLoad, 25);
    EXPECT_EQ(g->ReplyPrepend, SETTINGS_REPLY_PREPEND_DEFAULT);

    // Connection: the dial-up rule first, then the port; the proxy packs
    // version and port into one value.
    DIALUP_DATA* d = DialUp_GetRecord();
    CONNECTION_FORM k = ConnectionForm_From(d, g, true);
    k.dialMode = 1;
    k.entry = " ";
    k.proxyPort = "x";
    EXPECT_EQ(ConnectionForm_Apply(k, d, g, &m), ERR_BADARG);
    EXPECT_EQ(m.text, "Not valid Dial-UP entry");
    k.entry = "isp";
    EXPECT_EQ(ConnectionForm_Apply(k, d, g, &m), ERR_BADARG);
    EXPECT_EQ(m.text, "GetInt -- Not correct value");
    k.proxyPort = "1080";
    k.socksVersion = 4;
    k.proxyServer = " proxy.lan ";
    ASSERT_EQ(ConnectionForm_Apply(k, d, g, &m), 0u);
    EXPECT_EQ(g->ProxySocksParam, 0x04000438u);
    EXPECT_EQ(g->ProxySocksServer, "proxy.lan");
    EXPECT_EQ(ConnectionForm_From(d, g, false).dialMode, 0) << "no dial-up service";

    SETTINGS_FONT font{-15, 700, 1, 0, "DejaVu Sans"};
    SETTINGS_FONT back;
    ASSERT_TRUE(Settings_ParseFont(Settings_FormatFont(font), &back));
    EXPECT_EQ(Settings_FormatFont(font), "-15 700 1 0 >DejaVu Sans");
    EXPECT_EQ(back.face, "DejaVu Sans");
    EXPECT_EQ(back.height, -15);
    EXPECT_FALSE(Settings_ParseFont("12 400 0 0 >", &back));
    EXPECT_LT(Settings_FormatFont({1, 1, 1, 1, std::string(200, 'x')}).size(),
              size_t(GD_RFONT_SIZE));
}

TEST(SettingsSchedule, EntriesAndMasksRoundTrip) {
    std::array<uint16_t, 25> s{};
    s[0] = 0x0FFF;
    Schedule_SetEntries(&s, {"00:00", "23:55", "07:30", "7:3", "24:00", "08:07", "bad"});
    EXPECT_EQ(s[0], 0x0FFF) << "the hour mask is not the entries'";
    EXPECT_EQ(s[1], 0x0001);
    EXPECT_EQ(s[24], 0x0800);
    EXPECT_EQ(s[8], 0x0040);
    EXPECT_EQ(Schedule_Entries(s), (std::vector<std::string>{"00:00", "07:30", "23:55"}));
    EXPECT_TRUE(Schedule_Any(s));
    EXPECT_FALSE(Schedule_Any({}));
}

TEST(SettingsCertificate, RefusedFingerprintIsTakenFromTheStatusText) {
    const std::string fp(64, 'A');
    EXPECT_EQ(Settings_RefusedFingerprint("Pin mismatch, SHA-256 " + fp), std::string(64, 'a'));
    EXPECT_EQ(Settings_RefusedFingerprint("expired, SHA-256 " + fp.substr(1)), "");
    EXPECT_EQ(Settings_RefusedFingerprint("SHA-256 " + std::string(63, 'a') + "g"), "");
    EXPECT_EQ(Settings_RefusedFingerprint("Connection refused"), "");
}

} // namespace
