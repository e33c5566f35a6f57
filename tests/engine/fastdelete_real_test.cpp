// SPDX-License-Identifier: GPL-3.0-or-later
// "Delete now" against the real POP3 server and SOCKS proxy: what the server
// confirmed leaves the box and the store, the rest stays marked.
#include "check_harness.h"
#include "common/status.h"
#include "engine/fastdelete.h"
#include "engine/mailcheck.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "support/real_peers.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using iwtest::BoxIds;
using iwtest::Find;
using iwtest::RunCheck;
using iwtest::SeededUidl;

class RealFastDelete : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("fastdel") + "/registry.db"), REGSTORE_OK);
        Reg_SetMsgRootKey(nullptr);
        HREGKEY account; // records are written only for an account that exists
        ASSERT_EQ(RegStore_CreateKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Real", &account),
                  REGSTORE_OK);
        Pop3Acc_SetHooks({});
        previous_ =
            UserMsg_SetHandler([this](std::string_view caption, std::string_view text, unsigned) {
                boxes_.push_back(std::string(caption) + ": " + std::string(text));
                return UM_IDOK;
            });
        iwtest::UseServer(acc_, "Real", peers().pop3_port(), peers().user().name,
                          peers().user().password);
    }
    void TearDown() override {
        UserMsg_SetHandler(previous_);
        Pop3Acc_SetHooks({});
        MsgBox_Destroy(&acc_.hMsgBox);
    }

    // Seeds n messages and lets a check put them into the box and the store.
    void SeedAndCheck(int n) {
        peers().SeedMaildir(acc_.ChkLogin, n);
        const auto out = RunCheck(acc_);
        ASSERT_EQ(out.rc, 0u) << out.error;
        ASSERT_EQ(MsgBox_GetCount(acc_.hMsgBox), n);
        ASSERT_NE(acc_.LastSTAT[0], '\0');
    }
    std::vector<std::string> StoredIds() {
        std::vector<std::string> ids;
        HREGKEY box;
        if (RegStore_OpenKey(HREGKEY_USER, std::string(REG_ROOT_PATH) + "\\Real\\MsgBox", &box))
            return ids;
        RegStore_ForEachValue(box, [&](std::string_view n, uint32_t, std::string_view) {
            ids.emplace_back(n);
            return true;
        });
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // The ids the server lists now, through a fresh check of a scratch box.
    std::vector<std::string> ServerIds() {
        ACCOUNT probe = acc_;
        probe.Name = "Probe";
        probe.hMsgBox = nullptr;
        const auto out = RunCheck(probe);
        EXPECT_EQ(out.rc, 0u) << out.error;
        std::vector<std::string> ids = BoxIds(probe);
        MsgBox_Destroy(&probe.hMsgBox);
        return ids;
    }

    ACCOUNT acc_;
    std::vector<std::string> boxes_;
    UserMsgHandler previous_;
};

TEST_F(RealFastDelete, SelectedGoneRestStayLastStatEmptiedWithUserPassAndApop) {
    for (int auth : {0, 1}) {
        SCOPED_TRACE(auth ? "APOP" : "USER/PASS");
        acc_.ChkAuthType = auth;
        MsgBox_Destroy(&acc_.hMsgBox);
        SeedAndCheck(5);
        FASTPOP3_RESULT r;
        const std::vector<std::string> ids{SeededUidl(2), SeededUidl(4)};
        ASSERT_EQ(FastDelete_Run(&acc_, ids, nullptr, {}, &r), 0u) << r.errorText;
        EXPECT_EQ(r.deleted, ids);
        EXPECT_TRUE(boxes_.empty()) << boxes_[0];
        EXPECT_EQ(acc_.LastSTAT[0], '\0');
        const std::vector<std::string> rest{SeededUidl(1), SeededUidl(3), SeededUidl(5)};
        EXPECT_EQ(BoxIds(acc_), rest);
        EXPECT_EQ(StoredIds(), rest);
        EXPECT_EQ(ServerIds(), rest);
        EXPECT_EQ(MsgBox_GetCounts(acc_.hMsgBox)->New, 3);
    }
}

TEST_F(RealFastDelete, FailedSessionKeepsTheRecordsMarkedForTheNextCheck) {
    SeedAndCheck(2);
    acc_.ChkPswd = "wrong";
    FASTPOP3_RESULT r;
    EXPECT_EQ(FastDelete_Run(&acc_, {SeededUidl(1)}, nullptr, {}, &r), ERR_OPERATION);
    EXPECT_TRUE(r.deleted.empty());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].rfind("SendCmd Error: Bad USER/PASS command", 0), 0u) << boxes_[0];
    // Still marked, so the next check deletes it.
    ASSERT_EQ(BoxIds(acc_).size(), 2u);
    EXPECT_EQ(Find(acc_, SeededUidl(1))->Status, MSG_TO_DELETE);
    EXPECT_EQ(StoredIds().size(), 2u);
}

TEST_F(RealFastDelete, PasswordIsAskedOnceForTypeOneAndAnUnknownIdIsAlreadyGone) {
    SeedAndCheck(2);
    acc_.ChkPswd.clear();
    acc_.ChkPswdType = 1;
    int asked = 0;
    POP3ACC_HOOKS h;
    h.askPassword = [&](const ACCOUNT&, std::string* pw) {
        ++asked;
        *pw = peers().user().password;
        return 0u;
    };
    Pop3Acc_SetHooks(h);
    FASTPOP3_RESULT r;
    ASSERT_EQ(FastDelete_Run(&acc_, {SeededUidl(1)}, nullptr, {}, &r), 0u) << r.errorText;
    ASSERT_EQ(FastDelete_Run(&acc_, {"no-such-id"}, nullptr, {}, &r), 0u) << r.errorText;
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(r.deleted.empty());
    EXPECT_EQ(boxes_, std::vector<std::string>{"Message Deleted: Message is already gone."});

    // A prompt the user cancels sends nothing and keeps the mark.
    acc_.RememberedChkPswd.clear();
    h.askPassword = [](const ACCOUNT&, std::string*) { return ERR_CANCELLED; };
    Pop3Acc_SetHooks(h);
    EXPECT_EQ(FastDelete_Run(&acc_, {SeededUidl(2)}, nullptr, {}, &r), ERR_CANCELLED);
    EXPECT_EQ(Find(acc_, SeededUidl(2))->Status, MSG_TO_DELETE);
}

// The worker owns a box while its account is queued or checked: nothing is
// marked, asked or sent then.
TEST(FastDeleteBusy, AnAccountQueuedForACheckIsLeftToThatCheck) {
    ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("busy") + "/registry.db"), REGSTORE_OK);
    REGKEY* root = nullptr;
    ASSERT_EQ(Reg_OpenRoot(&root, REG_ROOT_PATH), 0u);
    ASSERT_EQ(Account_Initialize(root), 0u);
    uint32_t st = 0;
    ACCOUNT* acc = Account_Add("Busy", &st);
    ASSERT_NE(acc, nullptr);
    MSG_RECORD r = MsgRecord_Empty();
    r.SetText(MSGF_ID, "x");
    ASSERT_EQ(MsgBox_AddMsg(&acc->hMsgBox, &r, acc, 0), 0u);
    int index = -1;
    ASSERT_EQ(Account_IndexOf(acc, &index), 0u);
    ASSERT_EQ(Queue_PushAndCheck(index), 1);

    int asked = 0;
    POP3ACC_HOOKS h;
    h.askPassword = [&](const ACCOUNT&, std::string*) { return ++asked, ERR_CANCELLED; };
    Pop3Acc_SetHooks(h);
    acc->ChkPswdType = 2;
    EXPECT_EQ(FastDelete_Run(acc, {"x"}, nullptr, {}, nullptr), ERR_EXISTS);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(Find(*acc, "x")->Status, MSG_NEW);

    Queue_Clear();
    Pop3Acc_SetHooks({});
    Account_FreeAll();
    Reg_Close(root);
}

} // namespace
