// SPDX-License-Identifier: GPL-3.0-or-later
// The compose window without its widgets: what a new message, a reply, a
// forward or a reopened draft starts with, the signature, the attachments,
// the draft file, the send job and the printed heading. The widget shows the
// fields, hands the user's edits back through Fields() / SetFields() and
// shows the questions and errors the model answers with.
//
// Header values are read whole (a reply to a long To/CC list keeps every
// address); a draft is read back verbatim (its text never goes through the
// MIME decoder's cuts at "." or "begin" lines).
//
// Everything here runs on the UI thread.
#pragma once

#include "common/datetime.h"
#include "message/mime_decoder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct ACCOUNT;
struct SendJob;

// How the window is filled from a message.
enum class COMPOSE_KIND { New, Reply, Forward, Draft };

// What the window is opened with.
struct COMPOSE_SOURCE {
    std::string account;     // empty: none (the first account is shown)
    std::string messageText; // the whole message; empty: a new message
    COMPOSE_KIND kind = COMPOSE_KIND::New;
    bool preferHtml = false; // quote the HTML part reduced to text
};

// The editable fields, as the window shows them.
struct COMPOSE_FIELDS {
    std::string account;
    std::string senderName;
    std::string senderAddress;
    std::string server;
    std::string to;
    std::string cc;
    std::string bcc;
    std::string subject;
    std::string text; // LF line ends inside the window
};

// The global texts a model works with (ReplyPrepend, Signature) and how it
// writes dates; tests set them, the program reads them from the settings.
struct COMPOSE_ENV {
    std::string replyPrepend;
    std::string globalSignature;
    // The quote header's %DATE%: long date, a space, time.
    std::string (*formatDate)(const DATETIME& date) = nullptr;
};

class ComposeModel {
  public:
    ComposeModel();
    ~ComposeModel();
    ComposeModel(const ComposeModel&) = delete;
    ComposeModel& operator=(const ComposeModel&) = delete;

    // Fills the fields from the source (the account's sender, the subject,
    // recipients, quoted or forwarded text, the source's attachments).
    void Open(const COMPOSE_SOURCE& source, const COMPOSE_ENV& env);

    // Names of every account, in order.
    static std::vector<std::string> AccountNames();
    // Another account chosen: name, address and server from it (cleared
    // for an unknown one).
    void SelectAccount(const std::string& name);

    const COMPOSE_FIELDS& Fields() const { return f_; }
    void SetFields(COMPOSE_FIELDS f) { f_ = std::move(f); }

    // The signature "Append Signature" appends (empty: none).
    const std::string& Signature() const { return signature_; }
    void AppendSignature();

    // Attaches the file at `path` (read whole from that path) under its base
    // name with control characters, '"' and '\' removed. 0, or ERR_OPERATION
    // with *error set.
    uint32_t Attach(const std::string& path, std::string* error);
    // Removes the attachment shown at `index` of AttachmentNames.
    void RemoveAttachment(size_t index);
    std::vector<std::string> AttachmentNames() const;
    // The attachments in the order they were added: name and raw bytes.
    std::vector<std::pair<std::string, std::string>> Attachments() const;

    // The send job from the account and the fields: 0 or ERR_BADARG with
    // *error holding the refusal. The login is Compose_SendLogin's.
    uint32_t BuildJob(SendJob* job, std::string* error) const;
    // The job's message: the text with lone "." lines blanked and the
    // attachments. Valid until the model changes.
    const MimeMessage* Message();

    bool Sent() const { return sent_; }
    void SetSent() { sent_ = true; }

    // The draft file: "From:", To, CC, BCC, Subject, "X-Unsent: 1", the text
    // and, when there are attachments, a multipart body carrying them.
    std::string DraftText() const;
    // Reads a message file into the window: a draft's recipients, subject,
    // text (verbatim) and attachments; any other message's text.
    void OpenFile(std::string_view fileText);
    // The file name proposed for Save As: the subject without \ / : * ? < > |.
    std::string ProposedFileName() const;

    // The heading printed above the text.
    std::string PrintHeading() const;

  private:
    void fillFromMessage(const MimeMessage* m, COMPOSE_KIND kind, uint32_t selector,
                         const COMPOSE_ENV& env);
    void clearAttachments();

    COMPOSE_FIELDS f_;
    MIME_DESCRIPTOR desc_{};
    MimeMessage* message_ = nullptr;
    std::string signature_;
    bool sent_ = false;
};

// The start-up's "/smtp:" server: shown as the server of every compose
// window instead of the account's SendServer (empty: none).
void Compose_SetSmtpServer(std::string server);
const std::string& Compose_SmtpServer();

// The outgoing login into the job (SendSecured 0: none): the saved
// password, the one remembered for the run, or one asked through `ask`
// before the send starts ("Ask Once" remembers it for the run; SendSecured 2
// uses the incoming password, remembered or asked). 0 or ERR_CANCELLED.
uint32_t Compose_SendLogin(ACCOUNT* account, const std::function<uint32_t(std::string*)>& ask,
                           SendJob* job);

// Helpers the model is built on, public for their own tests.
// The subject with `prefix` ("RE: ", "FW: ") unless it begins with it.
std::string Compose_Prefix(std::string_view subject, std::string_view prefix);
// ReplyPrepend with %DATE% and %SENDER% replaced (case-insensitively).
std::string Compose_QuoteHeader(std::string_view prepend, std::string_view date,
                                std::string_view sender);
// The attachment name of a chosen file: its base name without control
// characters, '"' and '\'.
std::string Compose_AttachmentName(std::string_view path);
// Every line consisting of a single "." becomes a single space.
std::string Compose_BlankLoneDots(std::string_view text);
