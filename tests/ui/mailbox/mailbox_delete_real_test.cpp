// SPDX-License-Identifier: GPL-3.0-or-later
// "Delete now" from the MailBox window against the real POP3 server: the
// selected messages leave the server and the list, nothing else does, and an
// account that asks for its password once is asked once.
#include "../../engine/check_harness.h"
#include "support/real_peers.h"
#include "window_harness.h"

#include <QAction>
#include <QItemSelectionModel>

namespace {

class RealDeleteNow : public iwtest::RealPeersTest, protected iwtest::WindowHarness {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Start();
    }
    void TearDown() override {
        if (root_) Stop();
    }
    // The rows of these ids selected, as a user selects them.
    void selectIds(std::initializer_list<const char*> ids) {
        QItemSelection sel;
        QAbstractItemModel* m = w_->List()->model();
        for (const char* id : ids) {
            const int row = w_->Model().List().Position(id);
            ASSERT_GE(row, 0) << id;
            sel.select(m->index(row, 0), m->index(row, MBCOL_COUNT - 1));
        }
        w_->List()->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
    }
    std::vector<std::string> serverIds() {
        ACCOUNT probe = *acc_;
        probe.Name = "Probe";
        probe.hMsgBox = nullptr;
        const auto out = iwtest::RunCheck(probe);
        EXPECT_EQ(out.rc, 0u) << out.error;
        std::vector<std::string> ids = iwtest::BoxIds(probe);
        MsgBox_Destroy(&probe.hMsgBox);
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    ACCOUNT* acc_ = nullptr;
};

TEST_F(RealDeleteNow, SelectedMessagesLeaveServerAndListAndTheAskedPasswordIsKept) {
    using iwtest::SeededUidl;
    acc_ = account("Real", {});
    acc_->ChkServer = "127.0.0.1";
    acc_->ChkPort = peers().pop3_port();
    acc_->ChkLogin = peers().user().name;
    acc_->ChkPswd = peers().user().password;
    acc_->ChkTmout = 10;
    peers().SeedMaildir(acc_->ChkLogin, 4);
    ASSERT_EQ(iwtest::RunCheck(*acc_).rc, 0u);
    // "Ask Once": the password is asked for, then remembered for this run.
    acc_->ChkPswd.clear();
    acc_->ChkPswdType = 1;
    int asked = 0;
    POP3ACC_HOOKS hooks;
    hooks.askPassword = [&](const ACCOUNT&, std::string* pw) {
        ++asked;
        *pw = peers().user().password;
        return 0u;
    };
    Pop3Acc_SetHooks(hooks);

    open();
    ASSERT_EQ(w_->Model().List().Count(), 4);
    selectIds({SeededUidl(2).c_str(), SeededUidl(3).c_str()});
    w_->Action(MBC_DELETE_NOW)->trigger();
    EXPECT_EQ(w_->Model().List().Count(), 2);
    EXPECT_EQ(w_->Model().List().Position(SeededUidl(2)), -1);
    EXPECT_EQ(w_->Model().List().Position(SeededUidl(3)), -1);
    EXPECT_EQ(serverIds(), (std::vector<std::string>{SeededUidl(1), SeededUidl(4)}));

    selectIds({SeededUidl(4).c_str()});
    w_->Action(MBC_DELETE_NOW)->trigger();
    EXPECT_EQ(serverIds(), std::vector<std::string>{SeededUidl(1)});
    EXPECT_EQ(shown(), "Test message 1");
    EXPECT_EQ(asked, 1);
    // The last row went: the one left is selected, as said.
    EXPECT_EQ(boxes_, std::vector<std::string>{"DELETE_NOW:: Defaulting to last msg"});
}

} // namespace
