// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/fake_smtp.h"
#include "net/smtp.h"

#include "../support/temp_env.h"
#include "message/base64.h"
#include "platform/log.h"

#include <gtest/gtest.h>

namespace {

using iwtest::FakeSmtp;
using iwtest::FakeSmtpLog;
using iwtest::Stopwatch;

const SMTP_CODEC kCodec{Base64_Encode, Base64_Decode};

class SmtpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Smtp_SetCodec(&kCodec);
        log_ = std::make_shared<FakeSmtpLog>();
        job_.port = 0;
        job_.server = "127.0.0.1";
        job_.timeout = 5;
        job_.senderAddress = "me@example.org";
        job_.to = "you@example.org";
        job_.mode = SEND_RAW;
        job_.rawText = "Subject: hi\r\n\r\nbody\r\n";
    }
    void TearDown() override { Log_Close(); }

    uint32_t Send(iwtest::FakePeer& peer) {
        job_.port = peer.port();
        int sock = SOCK_INVALID;
        const uint32_t rc =
            Smtp_SendMessage(&job_, &sock, job_.errorText, sizeof job_.errorText, nullptr, nullptr);
        EXPECT_EQ(sock, SOCK_INVALID);
        peer.Join();
        return rc;
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(log_->mu);
        return log_->lines;
    }

    std::shared_ptr<FakeSmtpLog> log_;
    SendJob job_;
};

TEST_F(SmtpTest, WithoutLoginHeloAndNoAuthWhateverTheMethod) {
    job_.authMethod = SMTP_AUTH_CRAM_MD5;
    auto peer = FakeSmtp(log_);
    ASSERT_EQ(Send(peer), 0u) << job_.errorText;
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0].rfind("HELO ", 0), 0u);
    EXPECT_EQ(lines[1], "MAIL FROM:<me@example.org>");
    EXPECT_EQ(lines[2], "RCPT TO:<you@example.org>");
    EXPECT_EQ(lines[3], "DATA");
    EXPECT_EQ(lines.back(), "QUIT");
    for (const auto& l : lines)
        EXPECT_EQ(l.find("AUTH"), std::string::npos);
    EXPECT_EQ(log_->data, "Subject: hi\r\n\r\nbody\r\n.\r\n");
}

// The exchanges themselves are the real server's test (smtp_tls_peers_test):
// here a keyword offered in lower case, and the password kept out of the log.
TEST_F(SmtpTest, PlainAndLoginKeepThePasswordOutOfTheLog) {
    const std::string logPath = iwtest::MakeTempDir("smtplog") + "/smtp.log";
    ASSERT_EQ(Log_Open(logPath.c_str(), LOG_ALL), 0);
    job_.login = "user";
    job_.password = "pa55word";
    const std::string plainSecret = Base64_Encode(std::string("\0user\0pa55word", 14));
    const std::string loginSecret = Base64_Encode("pa55word");
    for (const int32_t method : {SMTP_AUTH_PLAIN, SMTP_AUTH_LOGIN}) {
        SCOPED_TRACE(method);
        log_ = std::make_shared<FakeSmtpLog>();
        job_.authMethod = method;
        auto peer = FakeSmtp(log_, [&](const std::string& line) -> std::string {
            if (line.rfind("EHLO", 0) == 0) return "250-fake\r\n250 auth plain login\r\n";
            if (line == "AUTH LOGIN") return "334 VXNlcm5hbWU6\r\n";
            if (line == Base64_Encode("user")) return "334 UGFzc3dvcmQ6\r\n";
            if (line == "AUTH PLAIN") return "334 \r\n";
            if (line == plainSecret || line == loginSecret) return "235 2.7.0 ok\r\n";
            return "";
        });
        ASSERT_EQ(Send(peer), 0u) << job_.errorText;
        const auto lines = Lines();
        const std::string& secret = method == SMTP_AUTH_PLAIN ? plainSecret : loginSecret;
        EXPECT_NE(std::find(lines.begin(), lines.end(), secret), lines.end());
    }
    const std::string logged = iwtest::ReadFile(logPath);
    EXPECT_EQ(logged.find(plainSecret), std::string::npos);
    EXPECT_EQ(logged.find(loginSecret), std::string::npos);
    EXPECT_NE(logged.find("XXXXXXXX"), std::string::npos);
    EXPECT_NE(logged.find("SMPT:Send: 'AUTH LOGIN' ''"), std::string::npos);
}

TEST_F(SmtpTest, AuthFailuresSayWhy) {
    job_.login = "user";
    job_.password = "x";
    const struct {
        const char* label;
        int32_t method;
        std::function<std::string(const std::string&)> answer;
        uint32_t result;
        const char* text;
    } cases[] = {
        {"method not offered", SMTP_AUTH_CRAM_MD5,
         [](const std::string& l) -> std::string {
             return l.rfind("EHLO", 0) == 0 ? "250-x\r\n250 AUTH PLAIN LOGIN\r\n" : "";
         },
         SMTP_REFUSED, "'CRAM_MD5' authorization is not supported by the server"},
        {"unknown method", 7, nullptr, SMTP_UNKNOWN_AUTH,
         "Unknown authorization type. Check outgoing server settings."},
        {"odd LOGIN prompt", SMTP_AUTH_LOGIN,
         [](const std::string& l) -> std::string {
             return l == "AUTH LOGIN" ? "334 " + Base64_Encode("Login name:") + "\r\n" : "";
         },
         SMTP_REFUSED, "The server asked for something other than the user name in AUTH LOGIN."},
        {"wrong password", SMTP_AUTH_PLAIN,
         [](const std::string& l) -> std::string {
             if (l == "AUTH PLAIN") return "334 \r\n";
             if (l.rfind("AUTH", 0) != 0 && l.find(' ') == std::string::npos)
                 return "535 5.7.8 Authentication credentials invalid\r\n";
             return "";
         },
         SMTP_REFUSED, "5.7.8 Authentication credentials invalid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        log_ = std::make_shared<FakeSmtpLog>();
        job_.authMethod = c.method;
        auto peer = FakeSmtp(log_, c.answer);
        EXPECT_EQ(Send(peer), c.result);
        EXPECT_STREQ(job_.errorText, c.text);
        for (const auto& l : Lines())
            EXPECT_EQ(l.rfind("MAIL", 0), std::string::npos);
    }
}

TEST(SmtpRecipients, SplitKeepsAddressesOnly) {
    const struct {
        const char* list;
        std::vector<std::string> expect;
    } cases[] = {
        {"\"a@b.example\" <c@d.example>", {"c@d.example"}},
        {"Jane Doe <jane@x.example>, bob@y.example", {"jane@x.example", "bob@y.example"}},
        {"a@x;b@y c@z,,<d@w>", {"a@x", "b@y", "c@z", "d@w"}},
        {"\"q@uoted\"", {}},
        {"no address here", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Smtp_SplitRecipients(c.list), c.expect) << c.list;
}

// A refused recipient among accepted ones, and Bcc, are the real server's
// tests (mailsend_real_test).
TEST_F(SmtpTest, DataRefusedAfterARefusedRecipientShowsTheRecipientsReason) {
    job_.to = "ok@example.org, you@example.org";
    auto peer = FakeSmtp(log_, [](const std::string& l) -> std::string {
        if (l == "RCPT TO:<you@example.org>")
            return "550 5.1.1 <you@example.org>: mailbox unknown\r\n";
        if (l == "DATA") return "554 5.5.1 no valid recipients\r\n";
        return "";
    });
    EXPECT_EQ(Send(peer), SMTP_REFUSED);
    EXPECT_STREQ(job_.errorText, "5.1.1 <you@example.org>: mailbox unknown");
}

TEST_F(SmtpTest, WithoutAnAcceptedRecipientNoDataIsSent) {
    job_.mode = SEND_MIME;
    job_.to = "a@x.example";
    job_.cc = "b@x.example";
    job_.writeMessage = [](const SendJob&, const SMTP_WRITE& w) { return w("Subject: s\r\n"); };
    auto peer = FakeSmtp(log_, [](const std::string& l) -> std::string {
        return l.rfind("RCPT", 0) == 0 ? "550 5.1.1 unknown\r\n" : "";
    });
    EXPECT_EQ(Send(peer), SMTP_REFUSED);
    EXPECT_STREQ(job_.errorText,
                 "No recipient was accepted: a@x.example: 550 5.1.1 unknown; b@x.example: 550 "
                 "5.1.1 unknown");
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
              (std::vector<std::string>{"RCPT TO:<a@x.example>", "RCPT TO:<b@x.example>", "RSET",
                                        "QUIT"}));
    EXPECT_EQ(log_->data, "");

    // Nothing left to send to: no connection at all (nothing listens there).
    job_.port = iwtest::ClosedPort();
    job_.to = "x@y.example\n";
    job_.cc = "";
    int sock = SOCK_INVALID;
    EXPECT_EQ(
        Smtp_SendMessage(&job_, &sock, job_.errorText, sizeof job_.errorText, nullptr, nullptr),
        SMTP_REFUSED);
    EXPECT_STREQ(job_.errorText,
                 "No recipient was accepted: x@y.example : the address holds control characters");
}

TEST_F(SmtpTest, DataIsDotStuffedAndLineEndsMadeWhole) {
    const struct {
        int32_t mode;
        std::string text;
        std::string wire;
    } cases[] = {
        // Composed text: every leading dot doubled, first and last lines too.
        {SEND_MIME, ".\r\n.\r\n.profile\nRCPT TO:<x@y>\r\n.",
         "..\r\n..\r\n..profile\r\nRCPT TO:<x@y>\r\n..\r\n.\r\n"},
        {SEND_MIME, "a\rb\n\nc", "a\r\nb\r\n\r\nc\r\n.\r\n"},
        // Ready-made POP3 text is stuffed already; only a lone dot is guarded.
        {SEND_RAW, "..x\r\n.\r\nend\r\n", "..x\r\n..\r\nend\r\n.\r\n"},
        {SEND_RAW, "x\n.", "x\r\n..\r\n.\r\n"},
        {SEND_MIME, std::string(2100, 'y'),
         std::string(998, 'y') + "\r\n" + std::string(998, 'y') + "\r\n" + std::string(104, 'y') +
             "\r\n.\r\n"},
    };
    for (const auto& c : cases) {
        log_ = std::make_shared<FakeSmtpLog>();
        job_.mode = c.mode;
        job_.rawText = c.text;
        job_.writeMessage = [&](const SendJob&, const SMTP_WRITE& w) { return w(c.text); };
        auto peer = FakeSmtp(log_);
        ASSERT_EQ(Send(peer), 0u) << job_.errorText;
        EXPECT_EQ(log_->data, c.wire);
        const auto lines = Lines();
        EXPECT_EQ(lines.back(), "QUIT");
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.rfind("RCPT", 0) == 0; }),
                  1);
    }
}

TEST_F(SmtpTest, CrLfInTheSenderAddressCannotAddACommand) {
    job_.senderAddress = "me@example.org>\r\nRCPT TO:<victim@example.org";
    auto peer = FakeSmtp(log_);
    ASSERT_EQ(Send(peer), 0u);
    const auto lines = Lines();
    EXPECT_EQ(lines[1], "MAIL FROM:<me@example.org>  RCPT TO:<victim@example.org>");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("RCPT", 0) == 0; }),
              1);
}

// An abort from another thread is the send thread's test (mailsend_test).
TEST_F(SmtpTest, StalledOrTrickledReplyTimesOut) {
    job_.timeout = 1;
    {
        auto peer = FakeSmtp(
            log_, [](const std::string& l) -> std::string { return l == "DATA" ? "STALL" : ""; });
        Stopwatch sw;
        EXPECT_EQ(Send(peer), SOCKERR_TIMEDOUT);
        EXPECT_STREQ(job_.errorText, Sock_ErrorText(SOCKERR_TIMEDOUT));
        EXPECT_LT(sw.ElapsedMs(), 5000);
    }
    iwtest::FakePeer peer(
        [](iwtest::PeerConn& c) { c.Trickle("220 a greeting that takes its time\r\n", 300); });
    Stopwatch sw;
    EXPECT_EQ(Send(peer), SOCKERR_TIMEDOUT);
    EXPECT_LT(sw.ElapsedMs(), 3000);
}

TEST_F(SmtpTest, BrokenConnectionDuringDataIsAFailureWithoutEndMark) {
    job_.mode = SEND_MIME;
    job_.writeMessage = [](const SendJob&, const SMTP_WRITE& w) {
        const std::string block(1 << 20, 'a');
        for (int i = 0; i < 64; ++i)
            if (uint32_t rc = w(block + "\r\n")) return rc;
        return 0u;
    };
    iwtest::FakePeer peer([](iwtest::PeerConn& c) {
        c.Send("220 x\r\n");
        for (const char* r : {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"}) {
            c.ReadLine();
            c.Send(r);
        }
        c.Read(4096); // then go away mid-message
    });
    const uint32_t rc = Send(peer);
    EXPECT_NE(rc, 0u);
    EXPECT_NE(rc, SMTP_REFUSED);
}

TEST_F(SmtpTest, RefusalWithoutReadableReplyIsReportedAndNotSilent) {
    auto peer = FakeSmtp(log_, [](const std::string& l) -> std::string {
        return l.rfind("MAIL", 0) == 0 ? "5\r\n" : "";
    });
    EXPECT_EQ(Send(peer), SMTP_REFUSED);
    EXPECT_EQ(job_.unknownReply, "5");
    EXPECT_NE(std::string_view(job_.errorText).find("UNKNOWN SMTP response"),
              std::string_view::npos);
}

TEST(SmtpDate, ZoneSignAndOffsetFollowTheLocalZone) {
    const struct {
        const char* tz;
        const char* expect;
    } cases[] = {
        {"UTC0", "Thu, 01 Jan 2026 12:00:00 -0000"},
        {"IST-5:30", "Thu, 01 Jan 2026 17:30:00 +0530"},
        {"NST3:30", "Thu, 01 Jan 2026 08:30:00 -0330"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "Thu, 01 Jan 2026 13:00:00 +0100"},
    };
    const time_t noon = 1767268800; // 2026-01-01 12:00:00 UTC
    for (const auto& c : cases) {
        iwtest::ScopedTz tz(c.tz);
        char buf[128];
        Smtp_DateHeader(buf, sizeof buf, noon);
        EXPECT_STREQ(buf, c.expect) << c.tz;
    }
    iwtest::ScopedTz tz("CET-1CEST,M3.5.0,M10.5.0/3");
    char buf[128];
    Smtp_DateHeader(buf, sizeof buf, noon + 182 * 86400);
    EXPECT_STREQ(buf, "Thu, 02 Jul 2026 14:00:00 +0200");
    char small[6];
    Smtp_DateHeader(small, sizeof small, noon);
    EXPECT_STREQ(small, "Thu, ");
}

// Required STARTTLS against servers that do not do it right: nothing but
// EHLO and STARTTLS goes out in clear, never a login or a message.
TEST_F(SmtpTest, RequiredStartTlsNeverFallsBackAndRefusesInjectedReplies) {
    const struct {
        const char* what;
        const char* ehlo;
        const char* starttls;
        const char* text;
    } cases[] = {
        {"not offered", "250-fake\r\n250 AUTH PLAIN\r\n", "",
         "The server does not offer STARTTLS; nothing was sent"},
        {"offered but refused", "250-fake\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n",
         "454 4.7.0 TLS not available\r\n",
         "The server refused STARTTLS: 454 4.7.0 TLS not available"},
        {"a reply injected behind 220", "250-fake\r\n250 starttls\r\n",
         "220 go ahead\r\n250 2.7.0 authenticated\r\n", "The server sent data before TLS started"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log_ = std::make_shared<FakeSmtpLog>();
        job_.security = SMTP_SECURITY_STARTTLS;
        job_.login = "me";
        job_.password = "pw";
        auto peer = FakeSmtp(log_, [&c](const std::string& line) -> std::string {
            if (line.rfind("EHLO", 0) == 0) return c.ehlo;
            if (line == "STARTTLS") return c.starttls;
            return "";
        });
        EXPECT_EQ(Send(peer), SMTP_REFUSED);
        EXPECT_STREQ(job_.errorText, c.text);
        for (const std::string& l : Lines())
            EXPECT_TRUE(l.rfind("EHLO ", 0) == 0 || l == "STARTTLS") << l;
    }
    // An unknown choice is refused before connecting, never taken as "none".
    job_.security = 3;
    int sock = SOCK_INVALID;
    EXPECT_EQ(
        Smtp_SendMessage(&job_, &sock, job_.errorText, sizeof job_.errorText, nullptr, nullptr),
        SOCKERR_INVAL);
    EXPECT_STREQ(job_.errorText, "Unknown connection security setting");
}

} // namespace
