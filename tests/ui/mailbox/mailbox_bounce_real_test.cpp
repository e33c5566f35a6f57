// SPDX-License-Identifier: GPL-3.0-or-later
// "Return an ERROR" against the real POP3 and SMTP servers: the headers come
// from Dovecot, the report reaches the sender through the SMTP sink, and only
// then is the message marked for deletion.
#include "../../engine/check_harness.h"
#include "../../support/temp_env.h"
#include "engine/mailsend.h"
#include "platform/registry.h"
#include "platform/user_message.h"
#include "settings/msgbox_reg.h"
#include "settings/reg.h"
#include "support/real_peers.h"
#include "ui/mailbox/mailbox_model.h"

#include <QLocale>

namespace {

class RealReturnError : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        QLocale::setDefault(QLocale::c());
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("bounce") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        Reg_SetMsgRootKey(root_);
        UserMsg_SetHandler([](std::string_view, std::string_view, unsigned) { return UM_IDOK; });
    }
    void TearDown() override {
        if (!root_) return;
        Account_FreeAll();
        Reg_SetMsgRootKey(nullptr);
        Reg_Close(root_);
        UserMsg_SetHandler(nullptr);
    }
    REGKEY* root_ = nullptr;
};

TEST_F(RealReturnError, TheReportReachesTheSenderAndOnlyThenIsTheMessageMarked) {
    ACCOUNT* acc = Account_Add("Real", nullptr);
    HREGKEY key;
    ASSERT_EQ(RegStore_CreateKey(root_->key, "Real", &key), REGSTORE_OK);
    iwtest::UseServer(*acc, "Real", peers().pop3_port(), peers().user().name,
                      peers().user().password);
    acc->Email = "jdoe@home.example";
    acc->SendServer = "127.0.0.1";
    acc->SendPort = peers().smtp_port();
    acc->SendTmout = 10;
    acc->SendSecured = 1;
    acc->SendLogin = peers().user().name;
    acc->SendPswd = peers().user().password;
    peers().SeedMessages(acc->ChkLogin,
                         {"Return-Path: <spammer@remote.example>\r\n"
                          "Received: from relay.remote.example (relay [192.0.2.9]) by "
                          "mx.home.example; Sun, 6 Dec 2026 09:00:00 +0000\r\n"
                          "From: Friendly <friend@elsewhere.example>\r\n"
                          "Subject: cheap watches\r\n\r\nbuy now\r\n"});
    ASSERT_EQ(iwtest::RunCheck(*acc).rc, 0u);
    const std::string id = iwtest::SeededUidl(1);

    MailBoxModel model;
    model.Open("");
    ASSERT_EQ(model.SelectedAccount(), acc);
    ASSERT_EQ(model.List().Count(), 1);
    model.SetSelection({0}, 0);
    const auto fetch = [](CheckRequest* req) {
        Pop3_ResetCheckState();
        return Pop3Acc_Check(req, nullptr, nullptr);
    };
    const auto bounce = [](ACCOUNT* a, std::string_view text, std::string* why) {
        return MailSend_Bounce(nullptr, a, text, 0, why);
    };
    const MAILBOX_OUTCOME out = model.ReturnError(fetch, bounce);
    EXPECT_FALSE(out.notice) << out.notice->text;

    const auto got = peers().SmtpReceived();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].mail_from, "MAILER-DAEMON@home.example");
    EXPECT_EQ(got[0].rcpt_tos, std::vector<std::string>{"spammer@remote.example"});
    EXPECT_NE(got[0].eml.find("Subject: Returned mail: User unknown"), std::string::npos);
    EXPECT_NE(got[0].eml.find("Subject: cheap watches"),
              std::string::npos);                             // the headers went back
    EXPECT_EQ(got[0].eml.find("buy now"), std::string::npos); // the body did not come
    EXPECT_EQ(iwtest::Find(*acc, id)->Status, MSG_TO_DELETE);
    EXPECT_EQ(model.List().Row(0).status, MSG_TO_DELETE);
    // As a restart reads it.
    HREGKEY box;
    uint32_t type;
    std::string value;
    MSG_RECORD r;
    ASSERT_EQ(RegStore_OpenKey(root_->key, "Real\\MsgBox", &box), REGSTORE_OK);
    ASSERT_EQ(RegStore_QueryValue(box, id, &type, &value), REGSTORE_OK);
    ASSERT_TRUE(MsgRecord_FromValue(value.c_str(), &r));
    EXPECT_EQ(r.Status, MSG_TO_DELETE);
}

} // namespace
