// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/smtp.h"

#include "common/grow_buffer.h"
#include "common/text.h"
#include "common/translate.h"
#include "net/md5.h"
#include "platform/log.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

std::atomic<const SMTP_CODEC*> g_codec{nullptr};

constexpr size_t kMaxLine = 998;
constexpr size_t kFlushAt = 64 * 1024;

// A command argument may not carry a second command.
std::string cleanArg(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return out;
}

bool hasControl(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

std::string_view firstLine(std::string_view s) {
    const size_t nl = s.find_first_of("\r\n");
    return nl == std::string_view::npos ? s : s.substr(0, nl);
}

std::string_view trimLineEnds(std::string_view s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string hostName() {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) buf[0] = 0;
    std::string name(Text_TrimBlanks(std::string_view(buf).substr(0, 64)));
    for (char& c : name)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) c = '-';
    return name.empty() ? "noname" : name;
}

class Session {
  public:
    Session(SendJob* job, int* sock, SockProgress progress, void* context, const SockAbort* abort)
        : job_(job), sock_(sock), progress_(progress), context_(context), abort_(abort),
          reply_(SMTP_REPLY_LIMIT) {}

    uint32_t Run();
    std::string localText; // a failed step's own reason, preferred to the reply
    std::string_view Reply() const { return {reply_.Data() ? reply_.Data() : "", replyLen_}; }

    // ---- The data writer: line ends, dot-stuffing, line length. ------------
    uint32_t WriteData(std::string_view text);
    uint32_t FinishData();

  private:
    void progress(const char* text) {
        if (progress_) progress_(text, context_);
    }
    uint32_t sendLine(std::string_view text, std::string_view arg = {}, bool bracket = false,
                      bool secret = false);
    uint32_t readReply();
    // Sends a line and reads the reply: 0 when both worked and the reply was
    // accepted, SMTP_REFUSED for a refusal, else the transport error.
    uint32_t command(std::string_view text, std::string_view arg = {}, bool bracket = false,
                     bool secret = false);
    uint32_t authenticate(const std::string& host);
    // The session's steps, in order: each returns 0 to go on, else the
    // failure that ends the session.
    // The greeting (after TLS for an implicit-TLS server), then HELO or
    // EHLO, STARTTLS and authentication as the job asks.
    uint32_t greet();
    // MAIL FROM and every recipient; refused when no one was accepted.
    uint32_t envelope(const std::vector<std::vector<std::string>>& lists, bool* keptRefusal,
                      std::string* refusal);
    // DATA, the message, the final reply and QUIT.
    uint32_t data(bool keptRefusal, const std::string& refusal);
    // The composed message (SEND_MIME and the like) through job->writeMessage.
    uint32_t writeComposed();
    uint32_t startTls() {
        progress(IW_N_("Inboxwarden", "Starting TLS"));
        const uint32_t rc = Sock_StartTls(*sock_, job_->server.c_str(), job_->certPolicy,
                                          job_->certPin.c_str(), job_->timeout, abort_, &localText);
        if (rc == 0) localText.clear();
        Log_Write(LOG_SMTP, "SMTP: TLS %s %s\n", rc ? "failed:" : "started",
                  rc ? localText.c_str() : "");
        return rc;
    }
    // The addresses of To (and of Cc and Bcc for SEND_MIME), list by list;
    // those the client refuses itself go to job->refused instead.
    std::vector<std::vector<std::string>> recipientLists();
    // RCPT TO for each address, counting the accepted ones. The first list
    // whose last reply is a refusal leaves that reply in *refusal: it says
    // more than a refused DATA would.
    uint32_t recipients(const std::vector<std::string>& addresses, int* accepted, bool* keptRefusal,
                        std::string* refusal);
    // The failure text naming every refused address.
    void noRecipient();
    uint32_t flush();
    void lineEnd();

    SendJob* job_;
    int* sock_;
    SockProgress progress_;
    void* context_;
    const SockAbort* abort_;
    GrowBuffer reply_;
    size_t replyLen_ = 0;

    // Data writer state.
    std::string out_;
    uint32_t dataError_ = 0;
    bool atLineStart_ = true;
    bool pendingCR_ = false;
    bool pendingDot_ = false; // raw mode: a '.' that may turn out to be a lone-dot line
    size_t lineLen_ = 0;
};

uint32_t Session::sendLine(std::string_view text, std::string_view arg, bool bracket, bool secret) {
    std::string line(text);
    const std::string a = cleanArg(arg);
    if (bracket)
        line += '<' + a + '>';
    else
        line += a;
    // Base64 hides nothing: the credentials line is logged masked, as PASS is.
    const std::string_view shown = secret ? std::string_view("XXXXXXXX") : text;
    Log_Write(LOG_SMTP, "SMPT:Send: '%.*s' '%s'\n", static_cast<int>(shown.size()), shown.data(),
              (bracket ? ('<' + a + '>') : a).c_str());
    line += "\r\n";
    return Sock_Send(*sock_, line.data(), line.size(), job_->timeout, abort_);
}

uint32_t Session::readReply() {
    replyLen_ = 0;
    if (reply_.Data()) reply_.Data()[0] = 0;
    SockLinePace pace(job_->timeout);
    for (;;) {
        size_t got = 0;
        const uint32_t rc =
            Sock_RecvUntil(*sock_, &reply_, replyLen_, &got, pace.Deadline(), abort_);
        if (rc) return rc;
        pace.Received({reply_.Data() + replyLen_, got});
        replyLen_ += got;
        if (Smtp_ReplyComplete(Reply())) break;
    }
    Log_Write(LOG_SMTP, "SMPT:Recv: '%s'\n", reply_.Data());
    return 0;
}

uint32_t Session::command(std::string_view text, std::string_view arg, bool bracket, bool secret) {
    uint32_t rc = sendLine(text, arg, bracket, secret);
    if (rc == 0) rc = readReply();
    if (rc) return rc;
    return Smtp_ReplyOk(0, Reply()) ? 0 : SMTP_REFUSED;
}

uint32_t Session::authenticate(const std::string& host) {
    const uint32_t offered = Smtp_AuthMethods(Reply());
    const int32_t method = job_->authMethod;
    if (method < 0 || method > 2) {
        localText =
            IW_N_("Inboxwarden", "Unknown authorization type. Check outgoing server settings.");
        return SMTP_UNKNOWN_AUTH;
    }
    static constexpr uint32_t bits[] = {SMTP_OFFERS_PLAIN, SMTP_OFFERS_LOGIN, SMTP_OFFERS_CRAM_MD5};
    static constexpr const char* names[] = {"PLAIN", "LOGIN", "CRAM_MD5"};
    if (!(offered & bits[method])) {
        localText =
            std::string("'") + names[method] + "' authorization is not supported by the server";
        return SMTP_REFUSED;
    }
    const SMTP_CODEC* codec = g_codec.load();
    if (!codec) {
        localText = IW_N_("Inboxwarden", "No base64 codec for the authorization.");
        return SMTP_REFUSED;
    }
    auto encode = [&](std::string_view s) {
        std::string e = codec->encode(s);
        std::erase_if(e, [](char c) { return c == '\r' || c == '\n'; });
        return e;
    };
    // The text after "334 ", decoded.
    auto challenge = [&](std::string* out) {
        const std::string_view r = firstLine(Reply());
        return r.size() >= 4 && codec->decode(r.substr(4), out) == 0;
    };

    if (method == SMTP_AUTH_PLAIN) {
        if (uint32_t rc = command("AUTH PLAIN")) return rc;
        std::string creds;
        creds += '\0';
        creds += job_->login;
        creds += '\0';
        creds += job_->password;
        return command(encode(creds), {}, false, true);
    }
    if (method == SMTP_AUTH_LOGIN) {
        if (uint32_t rc = command("AUTH LOGIN")) return rc;
        std::string prompt;
        if (!challenge(&prompt) || !Text_EqualsNoCase(prompt, "Username:")) {
            localText =
                IW_N_("Inboxwarden",
                      "The server asked for something other than the user name in AUTH LOGIN.");
            return SMTP_REFUSED;
        }
        if (uint32_t rc = command(encode(job_->login))) return rc;
        if (!challenge(&prompt) || !Text_EqualsNoCase(prompt, "Password:")) {
            localText =
                IW_N_("Inboxwarden",
                      "The server asked for something other than the password in AUTH LOGIN.");
            return SMTP_REFUSED;
        }
        return command(encode(job_->password), {}, false, true);
    }
    if (uint32_t rc = command("AUTH CRAM-MD5")) return rc;
    std::string text;
    if (!challenge(&text)) {
        localText = IW_N_("Inboxwarden", "The server's CRAM-MD5 challenge could not be decoded.");
        return SMTP_REFUSED;
    }
    uint8_t digest[MD5_DIGEST_SIZE];
    HmacMd5(text.data(), text.size(), job_->password.data(), job_->password.size(), digest);
    char hex[MD5_HEX_SIZE];
    Md5_ToHex(hex, digest);
    if (uint32_t rc = command(encode(job_->login + " " + hex))) return rc;
    return command("EHLO ", host);
}

std::vector<std::vector<std::string>> Session::recipientLists() {
    std::vector<const std::string*> fields{&job_->to};
    if (job_->mode == SEND_MIME) fields.insert(fields.end(), {&job_->cc, &job_->bcc});
    std::vector<std::vector<std::string>> lists;
    for (const std::string* list : fields) {
        std::vector<std::string>& addresses = lists.emplace_back();
        for (std::string& address : Smtp_SplitRecipients(*list)) {
            if (hasControl(address))
                job_->refused.push_back(cleanArg(address) +
                                        ": the address holds control characters");
            else
                addresses.push_back(std::move(address));
        }
    }
    return lists;
}

uint32_t Session::recipients(const std::vector<std::string>& addresses, int* accepted,
                             bool* keptRefusal, std::string* refusal) {
    replyLen_ = 0;
    bool lastOk = true;
    for (const std::string& address : addresses) {
        uint32_t rc = sendLine("RCPT TO:", address, true);
        if (rc == 0) rc = readReply();
        if (rc) return rc;
        lastOk = Smtp_ReplyOk(0, Reply());
        if (lastOk)
            ++*accepted;
        else
            job_->refused.push_back(address + ": " + std::string(trimLineEnds(Reply())));
    }
    if (!addresses.empty() && !lastOk && !*keptRefusal) {
        *keptRefusal = true;
        refusal->assign(Reply());
    }
    return 0;
}

void Session::noRecipient() {
    localText = IW_N_("Inboxwarden", "No recipient was accepted");
    for (size_t i = 0; i < job_->refused.size(); ++i)
        localText += (i == 0 ? ": " : "; ") + job_->refused[i];
}

uint32_t Session::flush() {
    if (dataError_ || out_.empty()) return dataError_;
    dataError_ = Sock_Send(*sock_, out_.data(), out_.size(), job_->timeout, abort_);
    out_.clear();
    return dataError_;
}

void Session::lineEnd() {
    if (pendingDot_) {
        // A line of one "." in ready-made text: stuffed, so it stays text.
        out_ += "..";
        pendingDot_ = false;
    }
    out_ += "\r\n";
    atLineStart_ = true;
    lineLen_ = 0;
}

uint32_t Session::WriteData(std::string_view text) {
    if (dataError_) return dataError_;
    const bool stuffAll = job_->mode != SEND_RAW;
    for (char c : text) {
        if (c == '\n') {
            pendingCR_ = false;
            lineEnd();
            continue;
        }
        if (pendingCR_) {
            pendingCR_ = false;
            lineEnd();
        }
        if (c == '\r') {
            pendingCR_ = true;
            continue;
        }
        if (pendingDot_) {
            out_ += '.';
            pendingDot_ = false;
        }
        if (atLineStart_ && c == '.') {
            atLineStart_ = false;
            lineLen_ = 1;
            if (stuffAll) {
                out_ += "..";
                ++lineLen_;
            } else {
                pendingDot_ = true;
            }
            continue;
        }
        if (lineLen_ >= kMaxLine) lineEnd();
        out_ += c;
        ++lineLen_;
        atLineStart_ = false;
        if (out_.size() >= kFlushAt && !pendingDot_ && flush()) return dataError_;
    }
    return out_.size() >= kFlushAt ? flush() : dataError_;
}

uint32_t Session::FinishData() {
    if (dataError_) return dataError_;
    if (pendingCR_) {
        pendingCR_ = false;
        lineEnd();
    }
    if (!atLineStart_ || pendingDot_) lineEnd();
    Log_Write(LOG_SMTP, "SMTP:----------------Send endOfMessage mark----------------\n");
    Log_Write(LOG_SMTP, "SMPT:Send: '.' ''\n");
    out_ += ".\r\n";
    return flush();
}

uint32_t Session::Run() {
    if (job_->security != SMTP_SECURITY_NONE && job_->security != SMTP_SECURITY_STARTTLS &&
        job_->security != SMTP_SECURITY_TLS) {
        // A damaged setting must not mean clear text.
        localText = IW_N_("Inboxwarden", "Unknown connection security setting");
        return SOCKERR_INVAL;
    }
    const std::vector<std::vector<std::string>> lists = recipientLists();
    if (std::all_of(lists.begin(), lists.end(), [](const auto& l) { return l.empty(); })) {
        noRecipient();
        return SMTP_REFUSED;
    }
    const uint32_t started = Sock_Startup();
    if (started) {
        localText = Sock_ErrorText(started);
        return started;
    }
    uint32_t rc = job_->connect ? job_->connect(sock_) : 0;
    if (!job_->connect)
        rc = Sock_Connect(sock_, job_->server.c_str(), static_cast<uint16_t>(job_->port),
                          job_->proxyHost.empty() ? nullptr : job_->proxyHost.c_str(),
                          job_->proxyParam, progress_, context_, job_->timeout, abort_);
    if (rc) {
        Sock_Cleanup();
        return rc;
    }
    rc = greet();
    bool kept = false;
    std::string refusal;
    if (rc == 0) rc = envelope(lists, &kept, &refusal);
    if (rc == 0) rc = data(kept, refusal);
    Sock_Close(sock_);
    Sock_Cleanup();
    return rc;
}

uint32_t Session::greet() {
    if (job_->security == SMTP_SECURITY_TLS)
        if (uint32_t r = startTls()) return r;
    if (uint32_t r = readReply()) return r;
    if (!Smtp_ReplyOk(0, Reply())) return SMTP_REFUSED;
    Log_Write(LOG_SMTP, "SMPT: Connected to the server: %s\n", reply_.Data());
    progress("Authorizing");
    const std::string host = hostName();
    if (job_->security == SMTP_SECURITY_STARTTLS) {
        if (uint32_t r = command("EHLO ", host)) return r;
        if (!Smtp_OffersStartTls(Reply())) {
            localText =
                IW_N_("Inboxwarden", "The server does not offer STARTTLS; nothing was sent");
            return SMTP_REFUSED;
        }
        if (uint32_t r = command("STARTTLS")) {
            if (r == SMTP_REFUSED)
                localText =
                    "The server refused STARTTLS: " + std::string(trimLineEnds(firstLine(Reply())));
            return r;
        }
        // A second reply in the same read came before TLS, from anyone
        // on the path, and would pass for the answer to a later command.
        if (firstLine(Reply()).size() + 2 < Reply().size()) {
            localText = IW_N_("Inboxwarden", "The server sent data before TLS started");
            return SMTP_REFUSED;
        }
        if (uint32_t r = startTls()) return r;
        // What the server offered in clear does not count (RFC 3207 §4.2).
        if (uint32_t r = command("EHLO ", host)) return r;
        if (!job_->login.empty())
            if (uint32_t r = authenticate(host)) return r;
    } else if (job_->login.empty()) {
        if (uint32_t r = command("HELO ", host)) return r;
    } else {
        if (uint32_t r = command("EHLO ", host)) return r;
        if (uint32_t r = authenticate(host)) return r;
    }
    return 0;
}

uint32_t Session::envelope(const std::vector<std::vector<std::string>>& lists, bool* kept,
                           std::string* refusal) {
    if (uint32_t r = command("MAIL FROM:", job_->senderAddress, true)) return r;
    progress(IW_N_("Inboxwarden", "Sending list of recipients..."));
    Log_Write(LOG_SMTP, "SMTP:----------------sending recipients----------------\n");
    int accepted = 0;
    for (const std::vector<std::string>& list : lists)
        if (uint32_t r = recipients(list, &accepted, kept, refusal)) return r;
    if (accepted == 0) {
        // DATA now would hand the message to a transaction that delivers
        // it to no one, and some servers would still say it went.
        command("RSET");
        sendLine("QUIT");
        noRecipient();
        return SMTP_REFUSED;
    }
    return 0;
}

uint32_t Session::data(bool kept, const std::string& refusal) {
    progress(IW_N_("Inboxwarden", "Sending header..."));
    Log_Write(LOG_SMTP, "SMTP:----------------sending header----------------\n");
    if (uint32_t r = command("DATA")) {
        if (r == SMTP_REFUSED && kept) {
            // The recipient's refusal says more than "no valid recipients".
            reply_.Reserve(refusal.size() + 1);
            std::memcpy(reply_.Data(), refusal.c_str(), refusal.size() + 1);
            replyLen_ = refusal.size();
        }
        return r;
    }
    if (job_->mode == SEND_RAW) {
        progress(IW_N_("Inboxwarden", "Sending message..."));
        Log_Write(LOG_SMTP, "SMTP:----------------sending message(2)----------------\n");
        Log_Write(LOG_SMTP, "SMPT:Send: '%s' ''\n", job_->rawText.c_str());
        if (uint32_t r = WriteData(job_->rawText)) return r;
    } else if (uint32_t r = writeComposed()) {
        return r;
    }
    if (uint32_t r = FinishData()) return r;
    if (uint32_t r = readReply()) return r;
    if (!Smtp_ReplyOk(0, Reply())) return SMTP_REFUSED;
    Log_Write(LOG_SMTP, "SMTP:----------------Disconnect----------------\n");
    sendLine("QUIT");
    return 0;
}

uint32_t Session::writeComposed() {
    Log_Write(LOG_SMTP, "SMTP:----------------creating message----------------\n");
    if (!job_->writeMessage) {
        localText = IW_N_("Inboxwarden", "There is no message to send.");
        return SMTP_REFUSED;
    }
    SMTP_WRITE write = [this](std::string_view t) { return WriteData(t); };
    bool announced = false;
    // The header lines come first; "Sending message..." once the body
    // starts is close enough for a progress line.
    SMTP_WRITE withProgress = [&](std::string_view t) {
        if (!announced && t.rfind("MIME-Version:", 0) == 0) {
            announced = true;
            progress(IW_N_("Inboxwarden", "Sending message..."));
            Log_Write(LOG_SMTP, "SMTP:----------------sending message(1)----------------\n");
        }
        return write(t);
    };
    if (uint32_t r = job_->writeMessage(*job_, withProgress)) return r;
    return dataError_;
}

void putText(char* out, size_t size, std::string_view text) {
    if (!out || size == 0) return;
    const size_t n = std::min(size - 1, text.size());
    std::memcpy(out, text.data(), n);
    out[n] = 0;
}

} // namespace

void Smtp_SetCodec(const SMTP_CODEC* codec) {
    g_codec.store(codec);
}

bool Smtp_ReplyComplete(std::string_view data) {
    if (data.empty() || data.back() != '\n') return false;
    std::string_view body = data.substr(0, data.size() - 1);
    const size_t prev = body.rfind('\n');
    const std::string_view last = prev == std::string_view::npos ? body : body.substr(prev + 1);
    return last.size() < 4 || last[3] != '-';
}

bool Smtp_OffersStartTls(std::string_view ehloReply) {
    size_t pos = 0;
    while (pos < ehloReply.size()) {
        size_t end = ehloReply.find('\n', pos);
        if (end == std::string_view::npos) end = ehloReply.size();
        std::string_view line = ehloReply.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.size() >= 4 && line.substr(0, 3) == "250" && (line[3] == '-' || line[3] == ' ') &&
            Text_EqualsNoCase(Text_TrimBlanks(line.substr(4)), "STARTTLS"))
            return true;
    }
    return false;
}

bool Smtp_ReplyOk(uint32_t transport, std::string_view reply) {
    if (transport != 0 || reply.size() < 5) return false;
    return (reply[3] == ' ' || reply[3] == '-') && reply[0] >= '1' && reply[0] <= '3';
}

uint32_t Smtp_AuthMethods(std::string_view reply) {
    uint32_t bits = 0;
    size_t pos = 0;
    while (pos < reply.size()) {
        size_t end = reply.find('\n', pos);
        if (end == std::string_view::npos) end = reply.size();
        std::string line(reply.substr(pos, end - pos));
        pos = end + 1;
        for (char& c : line)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (line.rfind("250-AUTH", 0) != 0 && line.rfind("250 AUTH", 0) != 0) continue;
        if (line.find("CRAM-MD5") != std::string::npos) bits |= SMTP_OFFERS_CRAM_MD5;
        if (line.find("LOGIN") != std::string::npos) bits |= SMTP_OFFERS_LOGIN;
        if (line.find("PLAIN") != std::string::npos) bits |= SMTP_OFFERS_PLAIN;
    }
    return bits;
}

std::vector<std::string> Smtp_SplitRecipients(std::string_view list) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find_first_of("<>,; ", pos);
        if (end == std::string_view::npos) end = list.size();
        const std::string_view piece = list.substr(pos, end - pos);
        if (piece.find('@') != std::string_view::npos && piece.find('"') == std::string_view::npos)
            out.emplace_back(piece);
        pos = end + 1;
    }
    return out;
}

void Smtp_DateHeader(char* buffer, size_t size, time_t now) {
    if (!buffer || size == 0) return;
    static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm tm {};
    localtime_r(&now, &tm);
    const long east = tm.tm_gmtoff / 60;
    const long abs = east < 0 ? -east : east;
    char text[128];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  days[tm.tm_wday % 7], tm.tm_mday, months[tm.tm_mon % 12], tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, east > 0 ? '+' : '-', abs / 60, abs % 60);
    putText(buffer, size, text);
}

uint32_t Smtp_SendMessage(SendJob* job, int* sock, char* errorText, size_t errorTextSize,
                          SockProgress progress, void* context, const SockAbort* abort) {
    putText(errorText, errorTextSize, "");
    if (!job || !sock) {
        putText(errorText, errorTextSize, Sock_ErrorText(SOCKERR_INVAL));
        return SOCKERR_INVAL;
    }
    job->refused.clear();
    job->unknownReply.clear();
    Session s(job, sock, progress, context, abort);
    const uint32_t rc = s.Run();
    if (rc == 0) return 0;
    if (!s.localText.empty()) {
        putText(errorText, errorTextSize, s.localText);
    } else if (rc != SMTP_REFUSED) {
        putText(errorText, errorTextSize, Sock_ErrorText(rc));
    } else {
        const std::string_view reply = s.Reply();
        // A reply is shown to the user: bytes that would cut or garble the
        // text (a NUL ends it early) become '?', and a code without words
        // stands for itself.
        std::string words;
        if (reply.size() > 4 && (reply[3] == ' ' || reply[3] == '-'))
            words = Text_TrimBlanks(trimLineEnds(reply.substr(4)));
        if (words.empty() && reply.size() > 4 && (reply[3] == ' ' || reply[3] == '-'))
            words = trimLineEnds(reply);
        for (char& c : words)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n' && c != '\t') ||
                c == 0x7F)
                c = '?';
        if (!words.empty()) {
            putText(errorText, errorTextSize, words);
        } else {
            std::string shown(trimLineEnds(reply));
            for (char& c : shown)
                if (c == '\0') c = '?';
            job->unknownReply = shown;
            putText(errorText, errorTextSize, "UNKNOWN SMTP response: '" + shown + "'");
        }
    }
    Log_Write(LOG_SMTP, "SMTP: send failed (%u): %s\n", rc, errorText ? errorText : "");
    return rc;
}
