// SPDX-License-Identifier: GPL-3.0-or-later
// Sending from the compose window through the real SMTP server with AUTH:
// the password asked before the send, a reply and a forward as delivered, an
// attachment name outside ASCII, read back with Python's email package.
#include "compose_support.h"
#include "message/base64.h"
#include "support/process.h"
#include "support/real_peers.h"

#include <QPushButton>

#include <fstream>

namespace {

std::string run(const std::string& command) {
    std::string out;
    iwtest::RunShell(command, &out);
    return out;
}

class RealComposeSend : public iwtest::RealPeersTest, protected iwtest::WindowHarness {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Start();
        GlobalData_SetParam(GD_CONFIRMMSGSEND, 0);
        GlobalData_SetParam(GD_CONFIRMREPLYSAVE, 0);
        Compose_SetWindows(&windows_);
        MailSend_SetUi(SendProgress_Hooks());
        acc_ = account("Real", {});
        acc_->FullUserName = "Real Sender";
        acc_->Email = "sender@home.example";
        acc_->SendServer = "127.0.0.1";
        acc_->SendPort = peers().smtp_port();
        acc_->SendTmout = 10;
        acc_->SendSecured = 1;
        acc_->SendLogin = peers().user().name;
        acc_->SendPswdType = 2; // Ask Each Time: nothing stored
        windows_.password = peers().user().password;
    }
    void TearDown() override {
        if (!root_) return;
        for (ComposeWindow* w : Compose_Windows())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        MailSend_SetUi({});
        Compose_SetWindows(nullptr);
        Stop();
    }
    std::string saveEml(const iwtest::SmtpMessage& m) {
        const std::string path = iwtest::MakeTempDir("eml") + "/m.eml";
        std::ofstream(path, std::ios::binary) << m.eml;
        return path;
    }

    iwtest::PromptWindows windows_;
    ACCOUNT* acc_ = nullptr;
};

TEST_F(RealComposeSend, AskEachTimeSendsTheTypedPasswordWithAReplyAndAUtf8Attachment) {
    const std::string original = "From: Sam <sam@there.example>\r\nCC: boss@there.example\r\n"
                                 "Subject: Plans\r\n\r\nfirst\r\n\r\nlast\r\n";
    ComposeWindow* w = Compose_Open(COMPOSE_SOURCE{"Real", original, COMPOSE_KIND::Reply, false});
    EXPECT_EQ(w->Field("to")->text().toStdString(), "Sam <sam@there.example>");
    const std::string src = iwtest::MakeTempDir("attach"), want = iwtest::MakeTempDir("want");
    const std::string bytes = std::string("%PDF-1.4\n\0\x01\xFF", 13) + std::string(3000, 'z');
    std::ofstream(src + "/\xC3\x9C"
                        "bersicht \"v2\".pdf",
                  std::ios::binary)
        << bytes;
    std::ofstream(want + "/\xC3\x9C"
                         "bersicht v2.pdf",
                  std::ios::binary)
        << bytes;
    w->AttachFile(src + "/\xC3\x9C"
                        "bersicht \"v2\".pdf");
    w->TextField()->appendPlainText(QStringLiteral("."));
    w->Send();
    ASSERT_EQ(boxes_, std::vector<std::string>{"Inboxwarden: Message has been sent successfully."});
    EXPECT_EQ(windows_.asked, 1);
    EXPECT_EQ(w->SendButton()->text().toStdString(), "Send Again");

    const auto got = peers().SmtpReceived();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].auth_login, peers().user().name);
    EXPECT_EQ(got[0].rcpt_tos,
              (std::vector<std::string>{"sam@there.example", "boss@there.example"}));
    const std::string eml = saveEml(got[0]);
    EXPECT_EQ(run("/usr/bin/python3 " IW_EMAIL_CHECK " attachments '" + eml + "' '" + want + "'"),
              "ok\n");
    // The subject and the text part of a multipart message.
    const std::string textOf =
        "/usr/bin/python3 -c 'import email, email.policy, sys\n"
        "m = email.message_from_bytes(open(sys.argv[1], \"rb\").read(), "
        "policy=email.policy.default)\n"
        "print(m[\"subject\"] + \"|\" + m.get_body((\"plain\",)).get_content().replace(\"\\r\\n\", "
        "\"\\n\"), end=\"\")' ";
    EXPECT_EQ(run(textOf + "'" + eml + "'"), "RE: Plans|> first\n> \n> last\n> \n ");

    // Asked again for the next send; a refused password is the server's word.
    boxes_.clear();
    windows_.password = "wrong";
    answer_ = UM_IDYES; // send it again
    w->Send();
    EXPECT_EQ(windows_.asked, 2);
    ASSERT_EQ(boxes_.size(), 2u);
    EXPECT_EQ(boxes_[1].rfind("Error: ", 0), 0u) << boxes_[1];
    EXPECT_EQ(peers().SmtpReceived().size(), 1u);
}

TEST_F(RealComposeSend, AForwardCarriesTheOriginalsAttachmentsAndNotItsCopies) {
    acc_->SendPswdType = 1; // Ask Once: the second send asks no more
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>((i * 13) & 0xFF);
    const std::string original =
        "From: Sam <sam@there.example>\r\nCC: boss@there.example\r\nSubject: Figures\r\n"
        "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n--b\r\n"
        "Content-Type: application/octet-stream\r\n"
        "Content-Disposition: attachment; filename*=utf-8''Gr%C3%BC%C3%9Fe.bin\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        Base64_Encode(bytes) + "\r\n--b--\r\n";
    const std::string want = iwtest::MakeTempDir("want");
    std::ofstream(want + "/Gr\xC3\xBC\xC3\x9F"
                         "e.bin",
                  std::ios::binary)
        << bytes;
    for (int round = 0; round < 2; ++round) {
        ComposeWindow* w =
            Compose_Open(COMPOSE_SOURCE{"Real", original, COMPOSE_KIND::Forward, false});
        EXPECT_EQ(w->Field("cc")->text().toStdString(), "");
        w->Field("to")->setText(QStringLiteral("next@far.example"));
        w->Send();
        w->close();
    }
    EXPECT_EQ(windows_.asked, 1);
    const auto got = peers().SmtpReceived();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].rcpt_tos, std::vector<std::string>{"next@far.example"});
    EXPECT_EQ(run("/usr/bin/python3 " IW_EMAIL_CHECK " attachments '" + saveEml(got[1]) + "' '" +
                  want + "'"),
              "ok\n");
}

} // namespace
