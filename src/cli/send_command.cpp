#include "cli/send_command.h"
#include "cli/session.h"

#include "cli/terminal.h"
#include "common/status.h"
#include "core/mailsend.h"
#include "message/mime_composer.h"
#include "platform/log.h"
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

struct Options {
    std::string account, to, cc, bcc, subject, log;
    bool subjectGiven = false;
    bool passwordStdin = false;
    std::vector<std::string> attach;
};

void usage(FILE* out) {
    std::fputs("Usage: inboxwarden-cli send --account NAME --to ADDRESSES [--cc ADDRESSES]\n"
               "         [--bcc ADDRESSES] --subject TEXT [--attach FILE]... [--password-stdin]\n"
               "         [--log FILE] < body.txt\n"
               "\n"
               "Sends the text on standard input (UTF-8) through the account's outgoing\n"
               "server. With --password-stdin the first line of standard input is the\n"
               "password and the body follows it; otherwise a password that is not saved\n"
               "is asked on the terminal. Attachments are sent in the order given.\n",
               out);
}

// "--name VALUE" or "--name=VALUE".
bool takeValue(int argc, char** args, int* i, const char* name, std::string* value) {
    const size_t n = std::strlen(name);
    const char* a = args[*i];
    if (std::strncmp(a, name, n) != 0) return false;
    if (a[n] == '=') {
        *value = a + n + 1;
        return true;
    }
    if (a[n] != 0 || *i + 1 >= argc) return false;
    *value = args[++*i];
    return true;
}

int sendWith(const Options& o);

} // namespace

int Cli_Send(const std::string& profile, int argc, char** args) {
    Options o;
    for (int i = 0; i < argc; ++i) {
        std::string v;
        if (takeValue(argc, args, &i, "--account", &o.account)) continue;
        if (takeValue(argc, args, &i, "--to", &o.to)) continue;
        if (takeValue(argc, args, &i, "--cc", &o.cc)) continue;
        if (takeValue(argc, args, &i, "--bcc", &o.bcc)) continue;
        if (takeValue(argc, args, &i, "--log", &o.log)) continue;
        if (takeValue(argc, args, &i, "--subject", &o.subject)) {
            o.subjectGiven = true;
            continue;
        }
        if (takeValue(argc, args, &i, "--attach", &v)) {
            o.attach.push_back(v);
            continue;
        }
        if (std::strcmp(args[i], "--password-stdin") == 0) {
            o.passwordStdin = true;
            continue;
        }
        if (std::strcmp(args[i], "--help") == 0) {
            usage(stdout);
            return 0;
        }
        std::fprintf(stderr, "inboxwarden-cli send: unexpected argument '%s'\n", args[i]);
        usage(stderr);
        return 2;
    }
    if (o.account.empty() || o.to.empty() || !o.subjectGiven) {
        usage(stderr);
        return 2;
    }
    if (!o.log.empty() && Log_Open(o.log.c_str(), LOG_ALL) != 0)
        std::fprintf(stderr, "inboxwarden-cli send: cannot open the log %s\n", o.log.c_str());

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
        job.password = pop3Login ? acc->ChkPswd : acc->SendPswd;
        const bool asked = (pop3Login ? acc->ChkPswdType : acc->SendPswdType) != 0;
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
        if (MIME_AddAttachment(message, nullptr, 0, *it, nullptr) != 0) {
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
