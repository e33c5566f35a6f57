// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/send_command.h"
#include "cli/session.h"

#include "cli/terminal.h"
#include "common/status.h"
#include "engine/mailsend.h"
#include "message/mime_composer.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/account.h"
#include "settings/globaldata.h"
#include "settings/settings.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <iterator>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Options = CLI_SEND_ARGS;

int sendWith(const Options& o);

} // namespace

int Cli_Send(const std::string& profile, const CLI_SEND_ARGS& o) {
    if (!o.log.empty() && Log_Open(o.log.c_str(), LOG_ALL) != 0)
        std::fprintf(stderr, "inboxwarden-cli send: cannot open the log '%s': %s\n",
                     Cli_Printable(o.log).c_str(), Cli_LastSystemError().c_str());

    // Nothing is changed: the session leaves the settings as they came.
    CliSession session(profile);
    if (!session.ok()) return 1;
    return sendWith(o);
}

namespace {

int sendWith(const Options& o) {
    ACCOUNT* acc = Account_Get(o.account.c_str(), -1);
    if (!acc) {
        std::fprintf(stderr, "inboxwarden-cli send: no account '%s'\n", o.account.c_str());
        return 1;
    }
    if (acc->SendServer.empty()) {
        std::fprintf(stderr, "inboxwarden-cli send: account '%s' has no outgoing server\n",
                     o.account.c_str());
        return 1;
    }

    // The first line of stdin is the password whenever --password-stdin is
    // given, so the body never starts with it, even without a login.
    std::string stdinPassword;
    if (o.passwordStdin) {
        std::getline(std::cin, stdinPassword);
        if (!stdinPassword.empty() && stdinPassword.back() == '\r') stdinPassword.pop_back();
    }
    SendJob job;
    job.server = acc->SendServer;
    job.port = acc->SendPort;
    job.timeout = acc->SendTmout;
    MailSend_UseAccountSecurity(&job, *acc);
    if (acc->SendSecured) {
        const bool pop3Login = acc->SendSecured == 2;
        job.login = pop3Login ? acc->ChkLogin : acc->SendLogin;
        const bool asked = Account_PasswordType(acc, !pop3Login) != 0;
        job.password = pop3Login ? acc->ChkPswd : acc->SendPswd;
        job.authMethod = acc->SendAuthType;
        if (o.passwordStdin) {
            job.password = stdinPassword;
        } else if (asked || job.password.empty()) {
            if (!Cli_ReadPasswordFromTerminal("Password for " + job.login + "@" + job.server + ": ",
                                              &job.password)) {
                std::fprintf(stderr, "inboxwarden-cli send: no terminal to ask the password on; "
                                     "use --password-stdin\n");
                return 1;
            }
        }
    }
    const std::string body{std::istreambuf_iterator<char>(std::cin),
                           std::istreambuf_iterator<char>()};

    MimeMessage* message = MIME_Create();
    if (!message) return 1;
    MIME_SetText(message, body, nullptr);
    // The composer puts each new attachment first; adding them backwards
    // sends them in the order of the command line.
    for (auto it = o.attach.rbegin(); it != o.attach.rend(); ++it) {
        std::string why;
        if (MIME_AddAttachment(message, nullptr, 0, *it, nullptr, &why) != 0) {
            if (!why.empty()) UserMsg_Show("File_LoadFile", why, UM_OK | UM_ICONERROR);
            std::fprintf(stderr, "inboxwarden-cli send: cannot attach %s\n", it->c_str());
            MIME_Destroy(message);
            return 1;
        }
    }
    job.senderName = acc->FullUserName;
    job.senderAddress = acc->Email;
    job.replyTo = acc->ReplyAdr;
    job.to = o.to;
    job.cc = o.cc;
    job.bcc = o.bcc;
    job.subject = o.subject;
    MailSend_UseMessage(&job, message);

    const uint32_t rc = MailSend_Send(nullptr, &job);
    MIME_Destroy(message);
    MailSend_Shutdown(5000);
    if (rc != 0) {
        std::fprintf(stderr, "inboxwarden-cli send: not sent: %s\n",
                     job.errorText[0] ? job.errorText : Status_Name(rc));
        return 1;
    }
    for (const std::string& r : job.refused)
        std::fprintf(stderr, "Not delivered to: %s\n", r.c_str());
    std::printf("Sent through %s\n", job.server.c_str());
    return job.refused.empty() ? 0 : 3;
}

} // namespace
