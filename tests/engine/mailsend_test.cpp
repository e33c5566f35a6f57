// SPDX-License-Identifier: GPL-3.0-or-later
// The send thread, the interactive send and the bounce report against a
// scripted server (for what a real one will not do: stall, be cancelled).
#include "engine/mailsend.h"

#include "../support/fake_smtp.h"
#include "common/status.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using iwtest::FakeSmtp;
using iwtest::FakeSmtpLog;
using iwtest::Stopwatch;

const char kReceived[] = "Return-Path: <spammer@bad.example>\r\n"
                         "Received: from relay.bad.example (relay [192.0.2.7]) by mx.home.example; "
                         "Sun, 6 Dec 2026 10:00:00 +0000\r\n"
                         "From: Someone Else <other@elsewhere.example>\r\n"
                         "Subject: buy now\r\n"
                         "\r\n"
                         "offer\r\n"
                         ".\r\n";

ACCOUNT account(uint16_t port = 25) {
    ACCOUNT a;
    a.Email = "jdoe@home.example";
    a.SendServer = "127.0.0.1";
    a.SendPort = port;
    a.SendTmout = 5;
    return a;
}

std::string build(const ACCOUNT& a, std::string_view text, SendJob* job = nullptr) {
    SendJob local;
    std::string report;
    EXPECT_EQ(MailSend_BuildBounce(a, text, 1796551200, &report, job ? job : &local), 0u);
    return report;
}

// The report's structure, its envelope and the attached message without the
// POP3 status line are read back from the real server (mailsend_real_test).
TEST(MailSendBounce, SenderChoiceAndMissingPieces) {
    const struct {
        const char* label;
        std::string text;
        std::string to;
    } cases[] = {
        {"Return-Path wins over From", kReceived, "spammer@bad.example"},
        {"null Return-Path names no one", "Return-Path: <>\r\nFrom: a@b.example\r\n\r\nx\r\n", ""},
        {"Reply-To before From", "From: a@b.example\r\nReply-To: Name <r@b.example>\r\n\r\nx",
         "r@b.example"},
        {"From as the last resort", "From: \"x@y\" <f@b.example>\r\n\r\nx", "f@b.example"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SendJob job;
        build(account(), c.text, &job);
        EXPECT_EQ(job.to, c.to);
    }
    // Without a Received line the arrival and relay pieces are left out, and
    // their fields with them, so the status blocks stay apart.
    const std::string r = build(account(), "From: a@b.example\r\n\r\nx");
    EXPECT_NE(r.find("received at from \r\n"), std::string::npos);
    EXPECT_NE(r.find("Reporting-MTA: dns; mail.home.example\r\n\r\nFinal-Recipient:"),
              std::string::npos);

    // No one to return it to, or no domain of our own to send it from.
    std::string report;
    SendJob job;
    ACCOUNT a = account();
    EXPECT_EQ(MailSend_BuildBounce(a, "Subject: none\r\n\r\nx", 0, &report, &job), ERR_NOT_FOUND);
    a.Email = "nodomain";
    EXPECT_EQ(MailSend_BuildBounce(a, kReceived, 0, &report, &job), ERR_NOT_READY);
}

TEST(MailSendBounce, HostileReturnPathCannotAddLinesOrCommands) {
    SendJob job;
    const std::string r = build(
        account(),
        "1 octets\r\nReturn-Path: =?utf-8?Q?a@b.example=0D=0ARCPT_TO:<victim@c.example>?=\r\n\r\nx",
        &job);
    EXPECT_EQ(r.find("\r\nRCPT"), std::string::npos);
    EXPECT_NE(r.find("\r\nTo: <a@b.example>\r\n"), std::string::npos);

    auto log = std::make_shared<FakeSmtpLog>();
    auto peer = FakeSmtp(log);
    job.port = peer.port();
    EXPECT_EQ(MailSend_Send(nullptr, &job), 0u) << job.errorText;
    peer.Join();
    std::vector<std::string> rcpts;
    for (const auto& l : log->lines)
        if (l.rfind("RCPT", 0) == 0) rcpts.push_back(l);
    EXPECT_EQ(rcpts, std::vector<std::string>{"RCPT TO:<a@b.example>"});
}

TEST(MailSendBounce, ReportsOfTheSameSecondDiffer) {
    EXPECT_NE(build(account(), kReceived), build(account(), kReceived));
}

TEST(MailSend, CancelFromTheWaitingThreadEndsTheSendAsAFailure) {
    auto log = std::make_shared<FakeSmtpLog>();
    auto peer = FakeSmtp(log, [](const std::string& l) -> std::string {
        return l.rfind("RCPT", 0) == 0 ? "STALL" : "";
    });
    SendJob job;
    job.server = "127.0.0.1";
    job.port = peer.port();
    job.timeout = 30;
    job.to = "a@x.example";
    job.mode = SEND_RAW;
    job.rawText = "x";
    int runs = 0;
    bool closed = false;
    MailSend_SetUi({[&](void*, const char*, std::shared_ptr<CHECK_COMPLETION>) {
                        ++runs;
                        std::this_thread::sleep_for(std::chrono::milliseconds(200));
                        return runs == 1; // the user presses Cancel the first time
                    },
                    nullptr, [&](void*) { closed = true; }});
    Stopwatch sw;
    EXPECT_EQ(MailSend_Send(nullptr, &job), ERR_OPERATION);
    MailSend_SetUi({});
    EXPECT_LT(sw.ElapsedMs(), 5000);
    EXPECT_EQ(job.result, ERR_OPERATION);
    EXPECT_STREQ(job.errorText, Sock_ErrorText(SOCKERR_INTR));
    EXPECT_TRUE(closed);
}

TEST(MailSendBounce, AQuietBounceNeverAsksAndUsesOnlyAPasswordTypedThisRun) {
    ACCOUNT a = account();
    a.Name = "Home";
    a.SendSecured = 1;
    a.SendLogin = "jdoe";
    a.SendPswd = "stale";
    a.SendPswdType = 1;
    EXPECT_EQ(MailSend_QuietBounceHook()(&a, kReceived), ERR_NOT_READY);
    EXPECT_EQ(MailSend_QuietCount(), 0);
    EXPECT_NE(std::string(a.StatusText).find("password"), std::string::npos);
    a.RememberedSendPswd = "typed";
    SendJob job;
    build(a, kReceived, &job);
    EXPECT_EQ(job.password, "typed");
}

TEST(MailSend, ShutdownStopsQuietBouncesAndRefusesNewOnes) {
    auto log = std::make_shared<FakeSmtpLog>();
    auto peer = FakeSmtp(log, [](const std::string& l) -> std::string {
        return l.rfind("MAIL", 0) == 0 ? "STALL" : "";
    });
    ACCOUNT a = account(peer.port());
    a.SendTmout = 60;
    auto hook = MailSend_QuietBounceHook();
    ASSERT_EQ(hook(&a, kReceived), 0u);
    // The job holds copies: the account may change while the send runs.
    a.SendServer = "changed";
    for (int i = 0; i < 100 && log->lines.empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(MailSend_QuietCount(), 1);
    Stopwatch sw;
    EXPECT_EQ(MailSend_Shutdown(5000), 0);
    EXPECT_LT(sw.ElapsedMs(), 3000);
    EXPECT_EQ(MailSend_QuietCount(), 0);
    EXPECT_EQ(hook(&a, kReceived), ERR_NOT_READY);
    MailSend_Restart();
}

} // namespace
