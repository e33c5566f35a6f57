// SPDX-License-Identifier: GPL-3.0-or-later
// The bounce report: MailSend_Bounce and MailSend_BuildBounce.
#include "engine/mailsend.h"

#include "common/status.h"
#include "message/mime_composer.h"
#include "platform/log.h"
#include "settings/msgbox.h"

#include <cstdio>
#include <ctime>

namespace {

// Values taken from mail go into header lines and commands of the report.
std::string clean(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return out;
}

// The sender to return the message to: the first piece with '@' of the
// first of Return-Path, Reply-To and From that is present; without '@' the
// field's first piece (the server then refuses DATA for want of recipients).
bool senderOf(std::string_view message, std::string* sender) {
    // The fields are looked for at line starts, the first line included.
    const std::string text = "\n" + std::string(message);
    std::string value;
    if (MIME_GetHeaderFromText(text, "Return-Path:", &value) != 0 &&
        MIME_GetHeaderFromText(text, "\nReply-To:", &value) != 0 &&
        MIME_GetHeaderFromText(text, "\nFrom:", &value) != 0)
        return false;
    const std::vector<std::string> withAt = Smtp_SplitRecipients(value);
    if (!withAt.empty()) {
        *sender = withAt.front();
        return true;
    }
    const size_t end = value.find_first_of("<>,; ");
    *sender = value.substr(0, end);
    return true;
}

// No line of the report may be a lone "." (nor the POP3 end mark that may
// close the received text): such lines become a single space.
void blankLoneDots(std::string* text) {
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        const size_t lineEnd = end == std::string::npos ? text->size() : end;
        size_t len = lineEnd - start;
        if (len > 0 && (*text)[start + len - 1] == '\r') --len;
        if (len == 1 && (*text)[start] == '.') (*text)[start] = ' ';
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

// The text after "+OK " of a RETR answer starts with the rest of the status
// line ("1234 octets"); the attached message starts at its first field.
std::string_view withoutStatusLine(std::string_view text) {
    const size_t eol = text.find('\n');
    if (eol == std::string_view::npos) return text;
    const std::string_view first = text.substr(0, eol);
    const size_t colon = first.find(':');
    bool field = colon != std::string_view::npos && colon > 0;
    for (size_t i = 0; field && i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(first[i]);
        if (c <= 0x20 || c >= 0x7F) field = false;
    }
    return field ? text : text.substr(eol + 1);
}

} // namespace

uint32_t MailSend_BuildBounce(const ACCOUNT& account, std::string_view text, time_t now,
                              std::string* report, SendJob* job) {
    if (!report || !job || text.empty()) return ERR_BADARG;
    const size_t at = account.Email.find('@');
    if (account.SendServer.empty() || account.Email.empty() || at == std::string::npos)
        return ERR_NOT_READY;
    std::string sender;
    if (!senderOf(text, &sender)) return ERR_NOT_FOUND;

    const std::string user = clean(account.Email);
    const std::string local = user.substr(0, at);
    const std::string domain = user.substr(at + 1);

    char date[128];
    Smtp_DateHeader(date, sizeof date, now);
    char stamp[16];
    struct tm tm {};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d", &tm);

    // Drawn in the order receivers have always seen them made; the generator
    // is seeded once per process, so two reports of one second differ.
    const unsigned tokenNumber = 17821 + MIME_Random() % 82178;
    char letters[3];
    for (int i = 2; i >= 0; --i)
        letters[i] = static_cast<char>(65 + MIME_Random() % 25);
    char token[32];
    std::snprintf(token, sizeof token, "%c%c%c%u", letters[0], letters[1], letters[2], tokenNumber);
    const unsigned idNumber = 2234 + MIME_Random() % 97765;
    const unsigned b2 = 90000 + MIME_Random() % 9999;
    const unsigned b1 = 10000 + MIME_Random() % 89999;
    const std::string messageId =
        "<" + std::string(stamp) + std::to_string(idNumber) + "." + token + "@mail." + domain + ">";
    const std::string boundary =
        std::string(token) + "." + std::to_string(b1) + std::to_string(b2) + "/mail." + domain;

    std::string received, arrival, relay;
    bool hasReceived = false;
    if (MIME_GetHeaderFromText(text, "Received: from ", &received) == 0) {
        hasReceived = true;
        received = clean(received);
        const size_t semi = received.find(';');
        if (semi != std::string::npos) arrival = received.substr(semi + 1);
        relay = received.substr(0, received.find(' '));
    }
    const std::string shownSender = clean(sender);

    std::string r;
    r.reserve(text.size() + 2048);
    auto line = [&](std::string_view piece) {
        r.append(piece);
        r += "\r\n";
    };
    r += "Date: ";
    line(date);
    r += "From: Mail Delivery Subsystem <MAILER-DAEMON@";
    r += domain;
    line(">");
    r += "Message-Id: ";
    line(messageId);
    r += "To: <";
    r += shownSender;
    line(">");
    line("MIME-Version: 1.0\r\nContent-Type: multipart/report; report-type=delivery-status;");
    r += "        boundary=\"";
    r += boundary;
    line("\"");
    r += "Content-Transfer-Encoding: 8bit\r\nSubject: Returned mail: User unknown\r\n"
         "Auto-Submitted: auto-generated (failure)\r\n\r\n";
    r += "This is a MIME-encapsulated message\r\n\r\n--";
    line(boundary);
    r += "\r\nThe original message was received at ";
    if (hasReceived) line(arrival);
    r += "from ";
    if (hasReceived) line(relay);
    line("\r\n   ----- The following addresses had permanent fatal errors -----");
    r += "<";
    r += user;
    line(">");
    r += "    (reason: 550 <";
    r += user;
    r += ">... User unknown)\r\n\r\n";
    r += "   ----- Transcript of session follows -----\r\nmail.local: unknown name: ";
    line(local);
    r += "550 <";
    r += user;
    r += ">... User unknown)\r\n\r\n";
    r += "--";
    line(boundary);
    line("Content-Type: message/delivery-status\r\n");
    r += "Reporting-MTA: dns; mail.";
    line(domain);
    // Without a Received line the two fields are left out whole: their bare
    // names would run into one another and into the recipient block, which
    // readers of the report then cannot parse.
    if (hasReceived) {
        r += "Received-From-MTA: DNS; ";
        line(relay);
        r += "Arrival-Date: ";
        line(arrival);
    }
    r += "\r\nFinal-Recipient: RFC822; <";
    r += user;
    r += ">\r\n";
    r += "Action: failed\r\nStatus: 5.1.1\r\nLast-Attempt-Date: ";
    line(date);
    r += "\r\n--";
    line(boundary);
    line("Content-Type: message/partial\r\n");
    r.append(withoutStatusLine(text));
    r += "\r\n--";
    r += boundary;
    r += "--\r\n";
    blankLoneDots(&r);

    *job = SendJob{};
    job->server = account.SendServer;
    job->port = account.SendPort;
    job->timeout = account.SendTmout;
    MailSend_UseAccountSecurity(job, account);
    if (account.SendSecured) {
        if (account.SendSecured == 2) {
            job->login = account.ChkLogin;
            job->password = account.ChkPswd.empty() ? account.RememberedChkPswd : account.ChkPswd;
        } else {
            job->login = account.SendLogin;
            // An asked password is only known once typed in this run.
            job->password = account.SendPswdType == 0 && !account.SendPswd.empty()
                                ? account.SendPswd
                                : account.RememberedSendPswd;
        }
        job->authMethod = account.SendAuthType;
    }
    job->senderAddress = "MAILER-DAEMON@" + domain;
    job->to = sender;
    job->mode = SEND_RAW;
    job->rawText = r;
    *report = std::move(r);
    return 0;
}

uint32_t MailSend_Bounce(void* owner, ACCOUNT* account, std::string_view text, int quiet,
                         std::string* why) {
    if (!account || text.empty()) return ERR_BADARG;
    // A keyring password is fetched before the job copies it.
    if (account->SendSecured) Account_PasswordType(account, account->SendSecured != 2);
    auto job = std::make_unique<SendJob>();
    std::string report;
    if (uint32_t rc = MailSend_BuildBounce(*account, text, std::time(nullptr), &report, job.get()))
        return rc;
    DebugLog_Write("---------\nMailSend_Bounce: Message is built:\n%s\n---------\n",
                   report.c_str());

    if (quiet != 1) {
        DebugLog_Write("MailSend_Bounce: Sending Error Reply in Interactive MODE\n");
        const uint32_t rc = MailSend_Send(owner, job.get());
        if (rc != 0 && why) *why = job->errorText;
        if (rc != 0 && rc != ERR_OPERATION)
            DebugLog_Write("\n\nMailSend_Bounce: ERROR: _startSendProcess=%d<-!!!!\n\n",
                           static_cast<int>(rc));
        return rc == 0 ? 0 : (rc == ERR_OPERATION ? ERR_OPERATION : rc);
    }
    if (!job->login.empty() && job->password.empty() &&
        Account_PasswordType(account, account->SendSecured != 2) != 0) {
        // Nobody is there to ask during a check: without a password typed
        // earlier in this run the login would only fail.
        static const char kNoPassword[] =
            "No bounce sent: the outgoing server's password has not been typed yet.";
        DebugLog_Write("MailSend_Bounce: %s (%s)\n", kNoPassword, account->Name.c_str());
        MsgRecord_SetText(account->StatusText, kNoPassword);
        return ERR_NOT_READY;
    }
    DebugLog_Write("MailSend_Bounce: Sending Error Reply in QUIET MODE\n");
    return _startSendProcess(job.release(), owner, SEND_QUIET, nullptr);
}
