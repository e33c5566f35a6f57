// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mailsend.h"

#include "common/status.h"
#include "common/translate.h"
#include "message/base64.h"
#include "message/mime_composer.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "settings/globaldata.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <system_error>

namespace {

const SMTP_CODEC kCodec{Base64_Encode, Base64_Decode};

std::mutex g_uiMu;
MAILSEND_UI g_ui;

// Every running send, so that shutdown can abort them; quiet ones also wait
// here until they have ended.
struct Registry {
    std::mutex mu;
    std::condition_variable cv;
    std::list<SEND_RECORD*> running;
    int quiet = 0;
    bool shuttingDown = false;
};
Registry& registry() {
    static Registry r;
    return r;
}

MAILSEND_UI ui() {
    std::lock_guard lock(g_uiMu);
    return g_ui;
}

// The session's context is the record: a quiet send has no box to talk to.
int progressToUi(const char* text, void* context) {
    const auto* r = static_cast<const SEND_RECORD*>(context);
    if (r->mode == SEND_QUIET) return 0;
    const MAILSEND_UI u = ui();
    if (u.setStatus) u.setStatus(text, r->owner);
    return 0;
}

void setError(SendJob* job, const char* text) {
    std::snprintf(job->errorText, sizeof job->errorText, "%s", text);
}

bool waitFinished(SEND_RECORD* r, std::chrono::milliseconds step) {
    std::unique_lock lock(r->mu);
    return r->cv.wait_for(lock, step, [r] { return r->finished; });
}

} // namespace

void MailSend_SetUi(MAILSEND_UI u) {
    std::lock_guard lock(g_uiMu);
    g_ui = std::move(u);
}

void MailSend_UseAccountSecurity(SendJob* job, const ACCOUNT& account) {
    if (!job) return;
    job->security = account.SendSecurity;
    job->certPolicy = account.SendCertPolicy;
    job->certPin = account.SendCertPin;
}

void MailSend_UseMessage(SendJob* job, const MimeMessage* message) {
    if (!job) return;
    job->mode = SEND_MIME;
    job->writeMessage = [message](const SendJob& j, const SMTP_WRITE& write) -> uint32_t {
        MIME_HEADER_FIELDS f;
        f.senderName = j.senderName;
        f.senderAddress = j.senderAddress;
        f.replyTo = j.replyTo;
        f.to = j.to;
        f.cc = j.cc;
        f.subject = j.subject;
        char date[128];
        Smtp_DateHeader(date, sizeof date);
        f.date = date;
        f.messageId = MIME_MakeMessageId(j.senderAddress);
        if (uint32_t rc = write(MIME_ComposeHeader(f))) return rc;
        return MIME_Write(message, write);
    };
}

void _sendProcess(SEND_RECORD* r) {
    {
        std::lock_guard lock(r->mu);
        r->started = true;
    }
    r->cv.notify_all();

    SendJob* job = r->job;
    job->result = Smtp_SendMessage(job, &r->socket, job->errorText, sizeof job->errorText,
                                   progressToUi, r, &r->abort);
    if (job->result == 0)
        DebugLog_Write("MailSend_Bounce: Message is sent!\n");
    else
        DebugLog_Write("MailSend_Bounce: Message is not sent (%u): %s\n", job->result,
                       job->errorText);
    for (const std::string& refused : job->refused)
        DebugLog_Write("MailSend: not delivered to %s\n", refused.c_str());
    if (!job->unknownReply.empty())
        UserMsg_Show("Inboxwarden", "UNKNOWN SMTP response:\n\n'" + job->unknownReply + "'",
                     UM_OK | UM_ICONERROR);

    if (r->mode == SEND_QUIET) {
        Registry& reg = registry();
        {
            std::lock_guard lock(reg.mu);
            reg.running.remove(r);
            --reg.quiet;
            // The thread object goes with the record; nobody joins it.
            r->thread.detach();
            delete r->job;
            delete r;
        }
        reg.cv.notify_all();
        return;
    }
    job->proxyHost.clear();
    // The completion first: a box that is created after this sees it done.
    r->completion->Finish(job->result, job->result == 0);
    const MAILSEND_UI u = ui();
    if (u.close) u.close(r->owner);
    {
        std::lock_guard lock(r->mu);
        r->finished = true;
    }
    r->cv.notify_all();
}

uint32_t _startSendProcess(SendJob* job, void* owner, int mode, SEND_RECORD** record) {
    if (!job || (mode == SEND_INTERACTIVE && !record)) return ERR_BADARG;
    static std::once_flag codecOnce;
    std::call_once(codecOnce, [] { Smtp_SetCodec(&kCodec); });
    if (record) *record = nullptr;

    auto fail = [&](SEND_RECORD* r, uint32_t code, const char* log, const char* text) {
        DebugLog_Write("%s", log);
        delete r;
        if (mode == SEND_INTERACTIVE) {
            setError(job, text);
            job->result = ERR_OPERATION;
        } else {
            delete job;
        }
        return code;
    };

    auto* r = new (std::nothrow) SEND_RECORD;
    if (!r) {
        if (mode != SEND_INTERACTIVE) {
            DebugLog_Write("MailSend_Bounce: _sendProcess FAILED alloc.\n");
            delete job;
        }
        return ERR_NOMEM;
    }
    r->job = job;
    r->owner = owner;
    r->mode = mode;
    if (mode == SEND_INTERACTIVE) r->completion = std::make_shared<CHECK_COMPLETION>();
    // The global settings belong to the thread that starts the send (the UI
    // or the check worker); the send thread only sees the copy in its job.
    if (std::optional<GLOBAL_PROXY> proxy = GlobalData_GetProxy()) {
        job->proxyHost = std::move(proxy->server);
        job->proxyParam = proxy->param;
    }

    Registry& reg = registry();
    {
        std::lock_guard lock(reg.mu);
        if (reg.shuttingDown) {
            return fail(r, ERR_NOT_READY, "MailSend: shutting down; send refused.\n",
                        IW_N_("Inboxwarden", "The program is shutting down."));
        }
        reg.running.push_back(r);
        if (mode == SEND_QUIET) ++reg.quiet;
        // Started under the lock so that a quiet thread cannot finish (and
        // free the record) before it is listed.
        try {
            r->thread = std::thread(_sendProcess, r);
        } catch (const std::system_error&) {
            reg.running.remove(r);
            if (mode == SEND_QUIET) --reg.quiet;
            return fail(r, ERR_OPERATION, "MailSend_Bounce: _sendProcess FAILED CreateThread.\n",
                        IW_N_("Inboxwarden", "Can't create send a mail thread."));
        }
        if (mode == SEND_INTERACTIVE) *record = r;
    }
    if (mode == SEND_INTERACTIVE) {
        std::unique_lock lock(r->mu);
        r->cv.wait(lock, [r] { return r->started; });
    }
    return 0;
}

void _freeSendRecord(SEND_RECORD* r) {
    if (!r) return;
    if (r->thread.joinable()) r->thread.join();
    {
        Registry& reg = registry();
        std::lock_guard lock(reg.mu);
        reg.running.remove(r);
    }
    delete r;
}

uint32_t MailSend_Send(void* owner, SendJob* job) {
    SEND_RECORD* r = nullptr;
    if (uint32_t rc = _startSendProcess(job, owner, SEND_INTERACTIVE, &r)) return rc;
    for (;;) {
        if (waitFinished(r, std::chrono::milliseconds(0))) break;
        const MAILSEND_UI u = ui();
        bool shutting;
        {
            std::lock_guard lock(registry().mu);
            shutting = registry().shuttingDown;
        }
        if (u.run && !shutting) {
            if (u.run(owner, job->server.c_str(), r->completion)) {
                DebugLog_Write("MailSend: send cancelled by the user\n");
                r->abort.Trigger();
            }
        }
        if (waitFinished(r, std::chrono::milliseconds(500))) break;
    }
    _freeSendRecord(r);
    if (job->result == 0) return 0;
    job->result = ERR_OPERATION;
    return ERR_OPERATION;
}

std::function<uint32_t(ACCOUNT*, std::string_view)> MailSend_QuietBounceHook() {
    return [](ACCOUNT* account, std::string_view text) {
        return MailSend_Bounce(nullptr, account, text, 1);
    };
}

int MailSend_Shutdown(int timeoutMs) {
    Registry& reg = registry();
    std::unique_lock lock(reg.mu);
    reg.shuttingDown = true;
    for (SEND_RECORD* r : reg.running)
        r->abort.Trigger();
    reg.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return reg.quiet == 0; });
    if (reg.quiet > 0)
        DebugLog_Write("MailSend: %d quiet send(s) still running at shutdown\n", reg.quiet);
    return reg.quiet;
}

int MailSend_QuietCount() {
    std::lock_guard lock(registry().mu);
    return registry().quiet;
}

void MailSend_Restart() {
    std::lock_guard lock(registry().mu);
    registry().shuttingDown = false;
}
