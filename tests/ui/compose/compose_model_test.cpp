// SPDX-License-Identifier: GPL-3.0-or-later
// What a compose window starts with and keeps: replies, forwards, drafts,
// attachments and the outgoing login, on real accounts without a display.
#include "../../support/temp_env.h"
#include "common/status.h"
#include "net/smtp.h"
#include "platform/registry.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/reg.h"
#include "ui/compose/compose_model.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class ComposeModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegStore_Open(iwtest::MakeTempDir("compose") + "/registry.db"), REGSTORE_OK);
        ASSERT_EQ(Reg_OpenRoot(&root_, REG_ROOT_PATH), 0u);
        acc_ = Account_Add("Work", nullptr);
        ASSERT_NE(acc_, nullptr);
        acc_->FullUserName = "Wendy Worker";
        acc_->Email = "wendy@work.example";
        acc_->SendServer = "smtp.work.example";
    }
    void TearDown() override {
        Compose_SetSmtpServer("");
        Account_FreeAll();
        Reg_Close(root_);
    }
    COMPOSE_FIELDS open(const std::string& text, COMPOSE_KIND kind, COMPOSE_ENV env = {}) {
        model_.Open(COMPOSE_SOURCE{"Work", text, kind, false}, env);
        return model_.Fields();
    }

    REGKEY* root_ = nullptr;
    ACCOUNT* acc_ = nullptr;
    ComposeModel model_;
};

std::string longList(const char* who, int count) {
    std::string list;
    for (int i = 0; i < count; ++i)
        list += (i ? ",\r\n " : "") + std::string("Person ") + who + std::to_string(i) + " <" +
                who + std::to_string(i) + "@lists.example>";
    return list;
}

TEST_F(ComposeModelTest, ReplyKeepsEveryAddressOfLongListsAndQuotesEachLine) {
    const std::string to = longList("t", 70), cc = longList("c", 70);
    ASSERT_GT(cc.size(), 2000u);
    const std::string msg = "From: Sam <sam@there.example>\r\nReply-To: " + to + "\r\nCC: " + cc +
                            "\r\nSubject: re: Plans\r\nDate: Tue, 3 Jun 2025 10:00:00 +0000\r\n"
                            "Envelope-To: wendy+x@work.example\r\n\r\nline one\r\n\r\nlast\r\n";
    COMPOSE_ENV env;
    env.replyPrepend = "%sender% said on %DATE% (100%):";
    env.formatDate = [](const DATETIME&) { return std::string("THE DATE"); };
    acc_->AutoApplySig = 1;
    acc_->Signature = "-- \nW";
    const COMPOSE_FIELDS f = open(msg, COMPOSE_KIND::Reply, env);
    for (int i = 0; i < 70; ++i) {
        EXPECT_NE(f.to.find("t" + std::to_string(i) + "@lists.example"), std::string::npos) << i;
        EXPECT_NE(f.cc.find("c" + std::to_string(i) + "@lists.example"), std::string::npos) << i;
    }
    EXPECT_EQ(f.subject, "re: Plans"); // the prefix is there already, in any case
    EXPECT_EQ(f.senderAddress, "wendy+x@work.example");
    EXPECT_EQ(f.text, "\n-- \nW\n\nSam <sam@there.example> said on THE DATE (100%):\n"
                      "> line one\n> \n> last\n> ");
}

TEST_F(ComposeModelTest, ReplyGoesToFromWhenReplyToIsEmptyAndForwardCopiesNoCc) {
    const std::string msg = "From: Sam <sam@there.example>\r\nReply-To: \r\nCC: boss@there.example"
                            "\r\nSubject: Plans\r\n\r\nbody\r\n";
    COMPOSE_FIELDS f = open(msg, COMPOSE_KIND::Reply);
    EXPECT_EQ(f.to, "Sam <sam@there.example>");
    EXPECT_EQ(f.subject, "RE: Plans");
    EXPECT_EQ(f.cc, "boss@there.example");

    ComposeModel fw;
    fw.Open(COMPOSE_SOURCE{"Work", msg, COMPOSE_KIND::Forward, false}, {});
    EXPECT_EQ(fw.Fields().cc, "");
    EXPECT_EQ(fw.Fields().to, "");
    EXPECT_EQ(fw.Fields().subject, "FW: Plans");
    EXPECT_EQ(fw.Fields().text, "---------- FORWARDED MESSAGE ----------\nbody\n");
}

TEST_F(ComposeModelTest, ForwardCarriesTheAttachmentsInTheirOrder) {
    const std::string msg = "From: a@b.example\r\nSubject: Files\r\nMIME-Version: 1.0\r\n"
                            "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n--XX\r\n"
                            "Content-Type: text/plain\r\n\r\nsee files\r\n--XX\r\n"
                            "Content-Type: application/pdf;\r\n name*=utf-8''%C3%9Cbersicht.pdf\r\n"
                            "Content-Transfer-Encoding: base64\r\n\r\nJVBERi0=\r\n--XX\r\n"
                            "Content-Type: text/plain\r\nContent-Disposition: attachment;\r\n"
                            " filename=\"=?iso-8859-1?q?b=E4r.txt?=\"\r\n\r\n"
                            "plain bytes\r\n--XX--\r\n";
    open(msg, COMPOSE_KIND::Forward);
    const auto a = model_.Attachments();
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].first, "\xC3\x9C"
                          "bersicht.pdf");
    EXPECT_EQ(a[0].second, "%PDF-");
    EXPECT_EQ(a[1].first, "b\xC3\xA4r.txt");
    EXPECT_EQ(a[1].second, "plain bytes");
}

TEST_F(ComposeModelTest, DraftWithDotAndBeginLinesAndAttachmentsComesBackIdentical) {
    const std::string dir = iwtest::MakeTempDir("draft");
    std::string binary;
    for (int i = 0; i < 600; ++i)
        binary += static_cast<char>(i * 7);
    std::ofstream(dir + "/one.bin", std::ios::binary) << binary;
    std::ofstream(dir + "/Zw\xC3\xB6lf \"x\".txt", std::ios::binary) << ".\r\nbegin 644 x\r\n";
    const std::string text = "Hello\n.\nbegin 644 file.txt\nM86)C\n`\nend\n..\nlast .";
    model_.Open(COMPOSE_SOURCE{"Work", "", COMPOSE_KIND::New, false}, {});
    COMPOSE_FIELDS f = model_.Fields();
    f.to = "a@x.example, B <b@y.example>";
    f.cc = "c@z.example";
    f.bcc = "me@work.example";
    f.subject = "Draft: \xC3\xA9t\xC3\xA9";
    f.text = text;
    model_.SetFields(f);
    ASSERT_EQ(model_.Attach(dir + "/one.bin", nullptr), 0u);
    ASSERT_EQ(model_.Attach(dir + "/Zw\xC3\xB6lf \"x\".txt", nullptr), 0u);
    EXPECT_EQ(model_.AttachmentNames(),
              (std::vector<std::string>{"one.bin", "Zw\xC3\xB6lf x.txt"}));
    const std::string draft = model_.DraftText();

    ComposeModel back;
    back.OpenFile(draft);
    EXPECT_EQ(back.Fields().to, f.to);
    EXPECT_EQ(back.Fields().cc, f.cc);
    EXPECT_EQ(back.Fields().bcc, f.bcc);
    EXPECT_EQ(back.Fields().subject, f.subject);
    EXPECT_EQ(back.Fields().text, text);
    EXPECT_EQ(back.Attachments(), model_.Attachments());
    EXPECT_EQ(back.Attachments()[0].second, binary);

    // Without attachments the draft stays the plain file it always was, and
    // the text after the first empty line is taken as it stands.
    model_.RemoveAttachment(1);
    model_.RemoveAttachment(0);
    const std::string plain = model_.DraftText();
    EXPECT_EQ(plain.substr(0, plain.find("\r\n\r\n") + 4),
              "From:\r\nTo: a@x.example, B <b@y.example>\r\nCC: c@z.example\r\n"
              "BCC: me@work.example\r\nSubject: Draft: \xC3\xA9t\xC3\xA9\r\nX-Unsent: 1\r\n\r\n");
    ComposeModel again;
    again.OpenFile(plain);
    EXPECT_EQ(again.Fields().text, text);
    EXPECT_TRUE(again.Attachments().empty());
}

TEST_F(ComposeModelTest, SendRefusalsAndTheJob) {
    model_.Open(COMPOSE_SOURCE{"", "", COMPOSE_KIND::New, false}, {});
    COMPOSE_FIELDS f = model_.Fields();
    EXPECT_EQ(f.account, "Work"); // the first account
    EXPECT_EQ(f.server, "smtp.work.example");
    SendJob job;
    std::string error;
    EXPECT_EQ(model_.BuildJob(&job, &error), ERR_BADARG);
    EXPECT_EQ(error, "Empty To: field.");
    f.to = "x@y.example";
    model_.SetFields(f);
    EXPECT_EQ(model_.BuildJob(&job, &error), ERR_BADARG);
    EXPECT_EQ(error, "Empty Subject: field.");
    f.subject = "s";
    f.text = "a\n.\n.b\n.";
    model_.SetFields(f);
    ASSERT_EQ(model_.BuildJob(&job, &error), 0u);
    EXPECT_EQ(job.server, "smtp.work.example");
    EXPECT_EQ(model_.Message()->textParts->data, "a\r\n \r\n.b\r\n ");
    f.account = "Gone";
    model_.SetFields(f);
    EXPECT_EQ(model_.BuildJob(&job, &error), ERR_BADARG);
    EXPECT_EQ(error, "Cannot retrieve account information.");

    // "/smtp:" is the server every new window shows and sends through.
    Compose_SetSmtpServer("relay.example");
    ComposeModel relayed;
    relayed.Open(COMPOSE_SOURCE{"Work", "", COMPOSE_KIND::New, false}, {});
    EXPECT_EQ(relayed.Fields().server, "relay.example");
}

TEST_F(ComposeModelTest, OutgoingPasswordsAreAskedBeforeTheSendAndRememberedOnlyForAskOnce) {
    acc_->SendSecured = 1;
    acc_->SendLogin = "wendy";
    int asked = 0;
    auto ask = [&asked](std::string* pw) {
        *pw = "typed" + std::to_string(++asked);
        return 0u;
    };
    SendJob job;
    acc_->SendPswdType = 2; // every time
    ASSERT_EQ(Compose_SendLogin(acc_, ask, &job), 0u);
    ASSERT_EQ(Compose_SendLogin(acc_, ask, &job), 0u);
    EXPECT_EQ(job.password, "typed2");
    EXPECT_EQ(job.login, "wendy");
    acc_->SendPswdType = 1; // once for the run
    ASSERT_EQ(Compose_SendLogin(acc_, ask, &job), 0u);
    ASSERT_EQ(Compose_SendLogin(acc_, ask, &job), 0u);
    EXPECT_EQ(job.password, "typed3");
    EXPECT_EQ(acc_->RememberedSendPswd, "typed3");
    // The incoming login: its password remembered for the run.
    acc_->SendSecured = 2;
    acc_->ChkLogin = "w.in";
    acc_->ChkPswdType = 1;
    acc_->RememberedChkPswd = "incoming";
    ASSERT_EQ(Compose_SendLogin(acc_, ask, &job), 0u);
    EXPECT_EQ(job.password, "incoming");
    EXPECT_EQ(asked, 3);
    acc_->RememberedChkPswd.clear();
    EXPECT_EQ(Compose_SendLogin(
                  acc_, [](std::string*) { return ERR_CANCELLED; }, &job),
              ERR_CANCELLED);
}

TEST(ComposeHelpers, AttachmentNamesAndPrefixes) {
    EXPECT_EQ(Compose_AttachmentName("/home/u/\xC3\x9C"
                                     "ber\x01sicht \"v2\"\\.pdf"),
              "\xC3\x9C"
              "bersicht v2.pdf");
    EXPECT_EQ(Compose_Prefix("Fw: x", "FW: "), "Fw: x");
    EXPECT_EQ(Compose_Prefix("FWD: x", "FW: "), "FW: FWD: x");
    EXPECT_EQ(Compose_QuoteHeader("%DATE%%%x%Sender%", "D", "S"), "D%%xS");
}

} // namespace
