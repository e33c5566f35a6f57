// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/compose/compose_model.h"

#include "common/status.h"
#include "common/translate.h"
#include "engine/mailsend.h"
#include "message/base64.h"
#include "message/mime_composer.h"
#include "message/msg_header.h"
#include "settings/account.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string g_smtpServer;

std::string toLf(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string toCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::string header(const MimeMessage* m, std::string_view field) {
    std::string v;
    MIME_GetHeader(m, field, &v);
    return v;
}

// The header block of a file: up to (not including) the first empty line.
std::string_view headerBlock(std::string_view text, size_t* bodyStart) {
    size_t at = 0;
    for (;;) {
        const size_t nl = text.find('\n', at);
        if (nl == std::string_view::npos) {
            *bodyStart = text.size();
            return text;
        }
        std::string_view line = text.substr(at, nl - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) {
            *bodyStart = nl + 1;
            return text.substr(0, at);
        }
        at = nl + 1;
    }
}

bool hasField(std::string_view block, std::string_view field) {
    size_t match, off, len;
    const std::string lines = "\n" + std::string(block);
    return MIME_FindField(lines, "", field, "", &match, &off, &len) != 0;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

// The composer puts a new part first; the window lists and sends the parts
// in the order they were added.
void moveFirstToEnd(MimeMessage* m) {
    MimePart* first = m ? m->attachments : nullptr;
    if (!first || !first->next) return;
    m->attachments = first->next;
    MimePart* last = m->attachments;
    while (last->next)
        last = last->next;
    last->next = first;
    first->next = nullptr;
}

// Every attachment of a received message, in its order.
void addAttachmentsOf(const MimeMessage* source, MimeMessage* to) {
    unsigned index = 0;
    for (MimePart* p = MIME_NextAttachment(source, nullptr); p; p = MIME_NextAttachment(source, p))
        if (MIME_AddForwardedAttachment(to, p, ++index, nullptr) == 0) moveFirstToEnd(to);
}

} // namespace

void Compose_SetSmtpServer(std::string server) {
    g_smtpServer = std::move(server);
}
const std::string& Compose_SmtpServer() {
    return g_smtpServer;
}

std::string Compose_Prefix(std::string_view subject, std::string_view prefix) {
    if (startsWithNoCase(subject, prefix)) return std::string(subject);
    return std::string(prefix) + std::string(subject);
}

std::string Compose_QuoteHeader(std::string_view prepend, std::string_view date,
                                std::string_view sender) {
    std::string out;
    for (size_t i = 0; i < prepend.size();) {
        if (startsWithNoCase(prepend.substr(i), "%DATE%")) {
            out += date;
            i += 6;
        } else if (startsWithNoCase(prepend.substr(i), "%SENDER%")) {
            out += sender;
            i += 8;
        } else {
            out += prepend[i++];
        }
    }
    return out;
}

std::string Compose_AttachmentName(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    std::string out;
    for (char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '"' || c == '\\') continue;
        out += c;
    }
    return out;
}

std::string Compose_BlankLoneDots(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at <= text.size()) {
        size_t nl = text.find('\n', at);
        const size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::string_view line = text.substr(at, end - at);
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr) line.remove_suffix(1);
        out += line == "." ? std::string_view(" ") : line;
        if (cr) out += '\r';
        if (nl == std::string_view::npos) break;
        out += '\n';
        at = nl + 1;
    }
    return out;
}

uint32_t Compose_SendLogin(ACCOUNT* a, const std::function<uint32_t(std::string*)>& ask,
                           SendJob* job) {
    if (!a || !a->SendSecured) return 0;
    job->authMethod = a->SendAuthType;
    auto asked = [&](std::string* remembered, bool remember) -> uint32_t {
        if (!remembered->empty()) {
            job->password = *remembered;
            return 0;
        }
        std::string typed;
        if (!ask || ask(&typed) != 0) return ERR_CANCELLED;
        if (remember) *remembered = typed;
        job->password = std::move(typed);
        return 0;
    };
    if (a->SendSecured == 2) {
        job->login = a->ChkLogin;
        const int32_t type = Account_PasswordType(a, false);
        if (type == 0) {
            job->password = a->ChkPswd;
            return 0;
        }
        return asked(&a->RememberedChkPswd, type == 1);
    }
    job->login = a->SendLogin;
    const int32_t type = Account_PasswordType(a, true);
    if (type == 0) {
        job->password = a->SendPswd;
        return 0;
    }
    if (type == 1) return asked(&a->RememberedSendPswd, true);
    std::string none;
    return asked(&none, false);
}

ComposeModel::ComposeModel() : message_(MIME_Create()) {}

ComposeModel::~ComposeModel() {
    MIME_Destroy(message_);
}

std::vector<std::string> ComposeModel::AccountNames() {
    std::vector<std::string> out;
    for (int i = 0; i < Account_GetCount(); ++i)
        if (const char* n = Account_GetName(nullptr, i)) out.emplace_back(n);
    return out;
}

void ComposeModel::SelectAccount(const std::string& name) {
    f_.account = name;
    const ACCOUNT* a = name.empty() ? nullptr : Account_Get(name.c_str(), -1);
    f_.senderName = a ? a->FullUserName : std::string();
    f_.senderAddress = a ? a->Email : std::string();
    f_.server = !g_smtpServer.empty() ? g_smtpServer : a ? a->SendServer : std::string();
}

void ComposeModel::Open(const COMPOSE_SOURCE& source, const COMPOSE_ENV& env) {
    const std::vector<std::string> names = AccountNames();
    const ACCOUNT* a = source.account.empty() ? nullptr : Account_Get(source.account.c_str(), -1);
    if (a)
        SelectAccount(a->Name);
    else
        SelectAccount(names.empty() ? std::string() : names.front());

    // Append Signature offers the chosen account's signature (or the global
    // one); it is applied by itself only for a named account that asks for it.
    signature_ = a && !a->Signature.empty() ? a->Signature : env.globalSignature;
    const bool apply = !source.account.empty() && (!a || a->AutoApplySig);
    const std::string saved = signature_;
    if (!apply) signature_.clear();

    MimeMessagePtr parsed;
    if (!source.messageText.empty())
        parsed.reset(MIME_Open(source.messageText.data(), source.messageText.size()));
    if (!parsed) {
        if (!signature_.empty()) f_.text += "\n" + toLf(signature_);
    } else {
        const uint32_t selector = source.preferHtml ? SELECT_PREFER_HTML : SELECT_PREFER_PLAIN;
        fillFromMessage(parsed.get(), source.kind, selector, env);
        if (source.kind == COMPOSE_KIND::Forward) addAttachmentsOf(parsed.get(), message_);
    }
    signature_ = saved;
}

void ComposeModel::fillFromMessage(const MimeMessage* m, COMPOSE_KIND kind, uint32_t selector,
                                   const COMPOSE_ENV& env) {
    const std::string subject = header(m, "\nSUBJECT:");
    std::string from = header(m, "\nFROM:");
    if (from.empty()) {
        size_t len = 0;
        const char* raw = MIME_GetRaw(m, &len);
        if (raw && startsWithNoCase(std::string_view(raw, len), "FROM:"))
            MIME_GetHeaderFromText("\n" + std::string(raw, std::min<size_t>(len, 64 * 1024)),
                                   "\nFROM:", &from);
    }
    if (kind == COMPOSE_KIND::Reply) {
        const std::string replyTo = header(m, "\nREPLY-TO:");
        f_.to = replyTo.empty() ? from : replyTo;
        f_.subject = Compose_Prefix(subject, "RE: ");
        const std::string envelope = header(m, "\nENVELOPE-TO:");
        if (!envelope.empty()) f_.senderAddress = envelope;
    } else if (kind == COMPOSE_KIND::Forward) {
        f_.subject = Compose_Prefix(subject, "FW: ");
    }
    // A forward goes to new people: the original's copies stay with it.
    if (kind == COMPOSE_KIND::Reply || kind == COMPOSE_KIND::Draft) f_.cc = header(m, "\nCC:");

    MIME_GetPartInfo(m, selector, &desc_);
    std::string source;
    MIME_GetText(m, selector, &source);
    source = toLf(source);

    std::string text;
    if (!signature_.empty()) text += "\n" + toLf(signature_) + "\n\n";
    switch (kind) {
    case COMPOSE_KIND::Forward:
        text += "---------- FORWARDED MESSAGE ----------\n" + source;
        break;
    case COMPOSE_KIND::Reply: {
        std::string date;
        if (env.formatDate) {
            size_t len = 0;
            const char* raw = MIME_GetRaw(m, &len);
            DATETIME d{};
            Msg_GetDate(std::string_view(raw ? raw : "", raw ? len : 0), &d);
            if (d.wYear != DATETIME_YEAR_MISSING) date = env.formatDate(d);
        }
        const std::string head = Compose_QuoteHeader(env.replyPrepend, date, from);
        if (!head.empty()) text += head + "\n";
        size_t at = 0;
        for (;;) {
            const size_t nl = source.find('\n', at);
            text += "> ";
            if (nl == std::string::npos) {
                text.append(source, at);
                break;
            }
            text.append(source, at, nl + 1 - at);
            at = nl + 1;
        }
        break;
    }
    default:
        text += source;
        break;
    }
    f_.text = std::move(text);
}

void ComposeModel::AppendSignature() {
    if (signature_.empty()) return;
    f_.text += "\n" + toLf(signature_);
}

uint32_t ComposeModel::Attach(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof()) {
        if (error) *error = "Can't read the file:\r\n" + path;
        return ERR_OPERATION;
    }
    if (bytes.empty()) {
        if (error) *error = "Can't read the file:\r\n" + path;
        return ERR_OPERATION;
    }
    std::string name = Compose_AttachmentName(path);
    if (name.empty()) name = "attachment";
    if (MIME_AddAttachment(message_, bytes.data(), bytes.size(), name, nullptr, error) != 0)
        return ERR_OPERATION;
    moveFirstToEnd(message_);
    return 0;
}

std::vector<std::string> ComposeModel::AttachmentNames() const {
    std::vector<std::string> out;
    for (const auto& a : Attachments())
        out.push_back(a.first);
    return out;
}

std::vector<std::pair<std::string, std::string>> ComposeModel::Attachments() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (MimePart* p = message_ ? message_->attachments : nullptr; p; p = p->next) {
        std::string bytes;
        Base64_Decode(p->data, &bytes);
        out.emplace_back(p->fileName, std::move(bytes));
    }
    return out;
}

void ComposeModel::RemoveAttachment(size_t index) {
    std::vector<MimePart*> parts;
    for (MimePart* p = message_ ? message_->attachments : nullptr; p; p = p->next)
        parts.push_back(p);
    if (index < parts.size()) MIME_RemoveAttachment(parts[index]);
}

void ComposeModel::clearAttachments() {
    while (message_ && message_->attachments)
        MIME_RemoveAttachment(message_->attachments);
}

uint32_t ComposeModel::BuildJob(SendJob* job, std::string* error) const {
    ACCOUNT* a = f_.account.empty() ? nullptr : Account_Get(f_.account.c_str(), -1);
    if (!a) {
        *error = IW_N_("Inboxwarden", "Cannot retrieve account information.");
        return ERR_BADARG;
    }
    *job = SendJob{};
    job->port = a->SendPort;
    job->timeout = a->SendTmout;
    job->replyTo = a->ReplyAdr;
    MailSend_UseAccountSecurity(job, *a);
    // The field shows the server the window will use; an emptied field
    // falls back to the start-up's server or the account's.
    job->server = !f_.server.empty()      ? f_.server
                  : !g_smtpServer.empty() ? g_smtpServer
                                          : a->SendServer;
    if (job->server.empty()) {
        *error = IW_N_("Inboxwarden", "Send server name is empty.");
        return ERR_BADARG;
    }
    job->to = f_.to;
    job->cc = f_.cc;
    job->bcc = f_.bcc;
    if (f_.to.find_first_not_of(" \t") == std::string::npos) {
        *error = IW_N_("Inboxwarden", "Empty To: field.");
        return ERR_BADARG;
    }
    job->senderName = f_.senderName;
    job->senderAddress = f_.senderAddress;
    job->subject = f_.subject;
    if (f_.subject.empty()) {
        *error = IW_N_("Inboxwarden", "Empty Subject: field.");
        return ERR_BADARG;
    }
    return 0;
}

const MimeMessage* ComposeModel::Message() {
    MIME_SetText(message_, Compose_BlankLoneDots(toCrLf(f_.text)), &desc_);
    return message_;
}

std::string ComposeModel::DraftText() const {
    std::string d = "From:\r\nTo: " + f_.to;
    if (!f_.cc.empty()) d += "\r\nCC: " + f_.cc;
    if (!f_.bcc.empty()) d += "\r\nBCC: " + f_.bcc;
    d += "\r\nSubject: " + f_.subject + "\r\nX-Unsent: 1\r\n";
    const std::string text = toCrLf(f_.text);
    if (!message_ || !message_->attachments) return d + "\r\n" + text;
    // With attachments the draft is a MIME message; its text travels in
    // base64 so that no line of it ("." or "begin 644 ...") is read as
    // anything but text when the draft comes back.
    const std::string boundary = MIME_MakeBoundary();
    d += "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
         "\"\r\n\r\n--" + boundary +
         "\r\nContent-Type: text/plain; charset=\"utf-8\"\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n";
    const std::string b64 = Base64_Encode(text);
    for (size_t i = 0; i < b64.size(); i += 76)
        d += b64.substr(i, 76) + "\r\n";
    for (MimePart* p = message_->attachments; p; p = p->next)
        MIME_WritePart(
            [&d](std::string_view piece) {
                d += piece;
                return 0u;
            },
            p->desc, p->fileName, p->data, boundary);
    d += "--" + boundary + "--\r\n";
    return d;
}

void ComposeModel::OpenFile(std::string_view fileText) {
    size_t bodyStart = 0;
    // A leading line feed lets a field on the first line be found too.
    const std::string block = "\n" + std::string(headerBlock(fileText, &bodyStart));
    const bool draft = hasField(block, "\nX-Unsent:");
    std::string contentType;
    MIME_GetHeaderFromText(block, "\nContent-Type:", &contentType);
    const bool multipart = startsWithNoCase(contentType, "multipart/");
    MimeMessagePtr parsed;
    if (!draft || multipart) parsed.reset(MIME_Open(fileText.data(), fileText.size()));
    if (draft) {
        auto get = [&block](std::string_view field) {
            std::string v;
            MIME_GetHeaderFromText(block, field, &v);
            return v;
        };
        f_.to = get("\nTO:");
        f_.cc = get("\nCC:");
        f_.bcc = get("\nBCC:");
        f_.subject = get("\nSUBJECT:");
        if (!parsed) {
            f_.text = toLf(fileText.substr(bodyStart));
            return;
        }
        std::string text;
        MIME_GetText(parsed.get(), SELECT_PREFER_PLAIN, &text);
        f_.text = toLf(text);
        clearAttachments();
        addAttachmentsOf(parsed.get(), message_);
        return;
    }
    if (!parsed) return;
    const std::string signature = std::move(signature_);
    signature_.clear();
    fillFromMessage(parsed.get(), COMPOSE_KIND::Draft, SELECT_PREFER_PLAIN, COMPOSE_ENV{});
    signature_ = signature;
}

std::string ComposeModel::ProposedFileName() const {
    std::string out;
    for (char c : f_.subject)
        if (!std::strchr("\\/:*?<>|", c)) out += c;
    const size_t b = out.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    return out.substr(b, out.find_last_not_of(" \t") + 1 - b);
}

std::string ComposeModel::PrintHeading() const {
    std::string h = "From:\t\t" + f_.senderAddress + "\nTo:\t\t" + f_.to;
    if (!f_.cc.empty()) h += "\nCC:\t\t" + f_.cc;
    if (!f_.bcc.empty()) h += "\nBCC:\t\t" + f_.bcc;
    h += "\nSubject:\t\t" + f_.subject;
    const std::vector<std::string> names = AttachmentNames();
    if (!names.empty()) {
        h += "\n\nAttachments:\t";
        for (size_t i = 0; i < names.size(); ++i)
            h += (i ? "\t\t" : "") + names[i];
    }
    return h;
}
