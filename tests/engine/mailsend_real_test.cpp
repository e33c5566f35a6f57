// SPDX-License-Identifier: GPL-3.0-or-later
// Sending against the real SMTP server with AUTH (and the real SOCKS proxy)
// of the peers fixture; delivered messages are read back with Python's email
// package.
#include "engine/mailsend.h"

#include "common/status.h"
#include "message/mime_composer.h"
#include "platform/registry.h"
#include "settings/msgbox_reg.h"
#include "support/process.h"
#include "support/real_peers.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>

namespace {

std::string run(const std::string& command) {
    std::string out;
    iwtest::RunShell(command, &out);
    return out;
}

std::string writeFile(const std::string& dir, const std::string& name, const std::string& data) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << data;
    return path;
}

class RealSend : public iwtest::RealPeersTest {
  protected:
    void SetUp() override {
        RealPeersTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        job_.server = "127.0.0.1";
        job_.port = peers().smtp_port();
        job_.timeout = 10;
        job_.login = peers().user().name;
        job_.password = peers().user().password;
        job_.senderName = "Test Sender";
        job_.senderAddress = "sender@home.example";
        job_.to = "to@remote.example";
        job_.subject = "real send";
        message_ = MIME_Create();
        MIME_SetText(message_, "hello\n", nullptr);
        MailSend_UseMessage(&job_, message_);
    }
    void TearDown() override { MIME_Destroy(message_); }

    // The one message this test's login got since the last call.
    iwtest::SmtpMessage Delivered() {
        const auto all = peers().SmtpReceived();
        EXPECT_EQ(all.size(), seen_ + 1);
        if (all.size() <= seen_) return {};
        seen_ = all.size();
        return all.back();
    }
    std::string SaveEml(const iwtest::SmtpMessage& m) {
        return writeFile(iwtest::MakeTempDir("eml"), "m.eml", m.eml);
    }

    SendJob job_;
    MimeMessage* message_ = nullptr;
    size_t seen_ = 0;
};

TEST_F(RealSend, BccIsARecipientButNotAHeader) {
    job_.to = "Alice <alice@remote.example>, bob@remote.example";
    job_.cc = "\"Carol, C.\" <carol@remote.example>";
    job_.bcc = "dave@hidden.example";
    ASSERT_EQ(MailSend_Send(nullptr, &job_), 0u) << job_.errorText;
    const auto got = Delivered();
    EXPECT_EQ(got.mail_from, "sender@home.example");
    EXPECT_EQ(got.rcpt_tos,
              (std::vector<std::string>{"alice@remote.example", "bob@remote.example",
                                        "carol@remote.example", "dave@hidden.example"}));
    EXPECT_EQ(got.eml.find("dave@hidden.example"), std::string::npos);
    EXPECT_EQ(got.eml.find("Bcc"), std::string::npos);
    EXPECT_NE(got.eml.find("\r\nCc: \"Carol, C.\" <carol@remote.example>\r\n"), std::string::npos);
}

TEST_F(RealSend, BinaryAttachmentsArriveByteForByte) {
    std::mt19937 gen(7);
    std::string big(300000, '\0'), small;
    for (char& c : big)
        c = static_cast<char>(gen());
    for (int i = 0; i < 256; ++i)
        small += static_cast<char>(i);
    const std::string src = iwtest::MakeTempDir("att");
    const std::string expect = iwtest::MakeTempDir("expect");
    const std::string names[] = {"data.bin", "f\xC3\xB6rteckning r\xC3\xA4kning.dat"};
    const std::string bytes[] = {big, small};
    for (int i = 0; i < 2; ++i) {
        const std::string path = writeFile(src, names[i], bytes[i]);
        writeFile(expect, names[i], bytes[i]);
        ASSERT_EQ(MIME_AddAttachment(message_, nullptr, 0, path, nullptr), 0u);
    }
    ASSERT_EQ(MailSend_Send(nullptr, &job_), 0u) << job_.errorText;
    const std::string eml = SaveEml(Delivered());
    EXPECT_EQ(run("/usr/bin/python3 " IW_EMAIL_CHECK " attachments '" + eml + "' '" + expect + "'"),
              "ok\n");
}

TEST_F(RealSend, DotLinesAndUtf8TextArriveIntactAlsoThroughSocks5) {
    const std::string body = ".\n.hidden\n..two\n.\nmiddle \xE2\x82\xAC\n.";
    MIME_SetText(message_, body, nullptr);
    job_.subject = "Gr\xC3\xBC\xC3\x9F"
                   "e";
    for (bool socks : {false, true}) {
        SCOPED_TRACE(socks ? "through SOCKS 5" : "direct");
        job_.proxyHost = socks ? "127.0.0.1" : "";
        job_.proxyParam = socks ? (5u << 24) | peers().socks_port() : 0;
        ASSERT_EQ(MailSend_Send(nullptr, &job_), 0u) << job_.errorText;
        // Read back in the declared charset, dot lines unstuffed.
        EXPECT_EQ(run("/usr/bin/python3 " IW_EMAIL_CHECK " text '" + SaveEml(Delivered()) + "'"),
                  "Gr\xC3\xBC\xC3\x9F"
                  "e|.\n.hidden\n..two\n.\nmiddle \xE2\x82\xAC\n.\n");
    }
}

const char kSpam[] = "2048 octets\r\n"
                     "Return-Path: <spammer@remote.example>\r\n"
                     "Received: from relay.remote.example (relay [192.0.2.9]) by mx.home.example; "
                     "Sun, 6 Dec 2026 09:00:00 +0000\r\n"
                     "From: Friendly <friend@elsewhere.example>\r\n"
                     "Subject: cheap watches\r\n"
                     "\r\n"
                     "buy\r\n"
                     "..dotted line\r\n"
                     ".\r\n";

TEST_F(RealSend, BounceReportReachesTheSenderAsADeliveryStatusReport) {
    ACCOUNT acc;
    acc.Email = "jdoe@home.example";
    acc.SendServer = "127.0.0.1";
    acc.SendPort = peers().smtp_port();
    acc.SendTmout = 10;
    acc.SendSecured = 1;
    acc.SendLogin = peers().user().name;
    acc.SendPswd = peers().user().password;
    acc.SendAuthType = SMTP_AUTH_CRAM_MD5;
    for (int quiet : {0, 1}) {
        SCOPED_TRACE(quiet ? "quiet" : "interactive");
        ASSERT_EQ(MailSend_Bounce(nullptr, &acc, kSpam, quiet), 0u);
        for (int i = 0; i < 500 && MailSend_QuietCount() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto got = Delivered();
        EXPECT_EQ(got.mail_from, "MAILER-DAEMON@home.example");
        EXPECT_EQ(got.rcpt_tos, std::vector<std::string>{"spammer@remote.example"});
        // The attached text was still stuffed as POP3 sent it: one dot less.
        EXPECT_NE(got.eml.find("\r\nbuy\r\n.dotted line\r\n \r\n"), std::string::npos);
        const std::string eml = SaveEml(got);
        EXPECT_EQ(
            run("/usr/bin/python3 " IW_EMAIL_CHECK " report '" + eml + "' 'cheap watches' 2>&1"),
            "ok\n");
    }
}

// The command-line front: the account from the store, the body from stdin.
TEST_F(RealSend, CliSendsStdinWithTheAccountsIdentity) {
    const std::string cli = IW_CLI;
    const std::string dir = iwtest::MakeTempDir("cli");
    const std::string pw = writeFile(dir, "pw", peers().user().password + "\n");
    const std::string add =
        cli +
        " account add Work 'FullUserName=J\xC3\xBCrgen Doe' Email=jd@home.example "
        "ReplyAdr=replies@home.example SendServer=127.0.0.1 SendPort=" +
        std::to_string(peers().smtp_port()) + " SendSecured=1 SendLogin=" + peers().user().name +
        " SendAuthType=1 SendPswdType=1 < /dev/null 2>&1";
    ASSERT_EQ(run(add), "");
    const std::string body = writeFile(dir, "body", "line one\n.\n.x\nlast line\n");
    const std::string att = writeFile(dir, "a.zip", std::string("PK\x03\x04\0\xff", 6));
    const std::string send = "(cat '" + pw + "' '" + body + "') | " + cli +
                             " send --account work --to to@remote.example --bcc b@hidden.example "
                             "--subject 'from the cli' --attach '" +
                             att + "' --password-stdin 2>&1";
    EXPECT_EQ(run(send), "Sent through 127.0.0.1\n");
    const auto got = Delivered();
    EXPECT_EQ(got.mail_from, "jd@home.example");
    EXPECT_EQ(got.auth_mechanism, "LOGIN");
    EXPECT_EQ(got.rcpt_tos, (std::vector<std::string>{"to@remote.example", "b@hidden.example"}));
    EXPECT_NE(got.eml.find("From: =?utf-8?B?"), std::string::npos);
    EXPECT_NE(got.eml.find("\r\nReply-To: replies@home.example\r\n"), std::string::npos);
    EXPECT_NE(got.eml.find("\r\n\r\nline one\r\n.\r\n.x\r\nlast line\r\n\r\n--"),
              std::string::npos);
    EXPECT_NE(got.eml.find("Content-type: application/zip; name=\"a.zip\""), std::string::npos);

    // A refused recipient is reported, the message still goes to the others.
    auto sink = peers().StartSmtp({.users = peers().user().name + ":" + peers().user().password,
                                   .args = {"--reject-rcpt", "gone@remote.example"}});
    run(cli + " account set Work SendPort=" + std::to_string(sink->port()) + " < /dev/null");
    const std::string partial = "(cat '" + pw + "' '" + body + "') | " + cli +
                                " send --account Work --to 'to@remote.example, "
                                "gone@remote.example' --subject s --password-stdin 2>&1; echo "
                                "status=$?";
    const std::string out = run(partial);
    EXPECT_NE(out.find("Not delivered to: gone@remote.example: 550 5.1.1"), std::string::npos)
        << out;
    EXPECT_NE(out.find("status=3"), std::string::npos) << out;
    EXPECT_EQ(sink->Received().size(), 1u);
}

} // namespace
