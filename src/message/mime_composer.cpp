// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/mime_composer.h"

#include "common/status.h"
#include "message/base64.h"
#include "message/charset.h"
#include "platform/files.h"
#include "platform/log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iconv.h>
#include <mutex>
#include <random>
#include <unistd.h>

namespace {

// RFC 5322 §2.1.1: the hard limit of a line without its CR LF.
constexpr size_t kMaxLine = 998;
// Where header lines are folded when a blank allows it.
constexpr size_t kFoldAt = 78;

bool isAsciiText(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80 || (c < 0x20 && c != '\t') || c == 0x7F) return false;
    return true;
}

bool hasHighByte(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

// A value from mail or from the user may not break out of its header line.
std::string cleanValue(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return out;
}

std::string quoteName(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

// "Name: value" folded at blanks near kFoldAt; a run without blanks longer
// than the hard limit is cut, since an over-long line is refused outright.
std::string foldField(std::string_view name, std::string_view value) {
    std::string out;
    std::string line(name);
    line += ':';
    bool firstWord = true;
    size_t i = 0;
    for (;;) {
        size_t end = value.find(' ', i);
        if (end == std::string_view::npos) end = value.size();
        std::string_view word = value.substr(i, end - i);
        if (!firstWord && line.size() > 1 && line.size() + 1 + word.size() > kFoldAt) {
            out += line + "\r\n";
            line.clear();
        }
        while (line.size() + 1 + word.size() > kMaxLine) {
            const size_t take = kMaxLine - line.size() - 1;
            line += ' ';
            line.append(word.substr(0, take));
            out += line + "\r\n";
            line.clear();
            word.remove_prefix(take);
        }
        line += ' ';
        line.append(word);
        firstWord = false;
        if (end == value.size()) break;
        i = end + 1;
    }
    return out + line + "\r\n";
}

// An address list as typed, with non-ASCII display names encoded. Elements
// are separated by ',' or ';' outside quotes and angle brackets.
std::string encodeAddressList(std::string_view value) {
    if (isAsciiText(value)) return std::string(value);
    std::string out;
    size_t start = 0;
    bool quoted = false, angle = false;
    for (size_t i = 0; i <= value.size(); ++i) {
        const char c = i < value.size() ? value[i] : ',';
        if (c == '"' && !angle)
            quoted = !quoted;
        else if (c == '<' && !quoted)
            angle = true;
        else if (c == '>' && !quoted)
            angle = false;
        if ((c != ',' && c != ';') || (quoted && i < value.size()) || (angle && i < value.size()))
            continue;
        std::string_view item = value.substr(start, i - start);
        start = i + 1;
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (item.empty()) continue;
        if (!out.empty()) out += ", ";
        const size_t lt = item.rfind('<');
        if (lt == std::string_view::npos || isAsciiText(item.substr(0, lt))) {
            out.append(item);
            continue;
        }
        std::string_view name = item.substr(0, lt);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        out += MIME_EncodeWords(name);
        out += ' ';
        out.append(item.substr(lt));
    }
    return out;
}

// CR LF for every line end of the edited text (LF, CR LF or a lone CR).
std::string toCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

bool needsQuotedPrintable(std::string_view crlfText) {
    size_t lineLen = 0;
    for (char c : crlfText) {
        if (c == '\0') return true;
        if (c == '\n') {
            lineLen = 0;
            continue;
        }
        if (c != '\r' && ++lineLen > kMaxLine) return true;
    }
    return false;
}

// Quoted-printable (RFC 2045 §6.7) of a CR LF text, so that every byte of a
// text with over-long lines arrives intact.
std::string encodeQuotedPrintable(std::string_view crlfText) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(crlfText.size() + crlfText.size() / 8);
    size_t pos = 0;
    while (pos <= crlfText.size()) {
        size_t end = crlfText.find("\r\n", pos);
        const bool last = end == std::string_view::npos;
        if (last) end = crlfText.size();
        const std::string_view line = crlfText.substr(pos, end - pos);
        size_t col = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            const bool atEnd = i + 1 == line.size();
            char lit[4];
            size_t n;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atEnd)) {
                lit[0] = static_cast<char>(c);
                n = 1;
            } else {
                lit[0] = '=';
                lit[1] = hex[c >> 4];
                lit[2] = hex[c & 15];
                n = 3;
            }
            if (col + n > 75) {
                out += "=\r\n";
                col = 0;
            }
            out.append(lit, n);
            col += n;
        }
        if (last) break;
        out += "\r\n";
        pos = end + 2;
    }
    return out;
}

// UTF-8 to KOI8-R through Windows-1251 and the fixed table. False when some
// character has no KOI8-R form (the text then goes out as UTF-8).
bool utf8ToKoi8r(std::string_view text, std::string* out) {
    iconv_t cd = iconv_open("WINDOWS-1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result(text.size(), '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* dst = result.data();
    size_t outLeft = result.size();
    const size_t rc = iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    result.resize(result.size() - outLeft);
    for (size_t i = 0; i < result.size(); ++i)
        if (result[i] == '\0') return false;
    Charset_1251ToKoi8r(std::span<char>(result.data(), result.size()));
    for (char c : result)
        if (c == '\0') return false;
    *out = std::move(result);
    return true;
}

// A parameter of Content-Type / Content-Disposition: quoted when ASCII,
// RFC 2231 (utf-8, percent-encoded) otherwise.
std::string fileParam(std::string_view param, std::string_view value) {
    if (isAsciiText(value)) return std::string(param) + "=" + quoteName(value);
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out(param);
    out += "*=utf-8''";
    for (unsigned char c : value) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("!#$&+-.^_`|~", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string_view baseName(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

const char* contentTypeOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return "application/octet-stream";
    const std::string_view ext = name.substr(dot + 1);
    auto is = [&](const char* e) {
        if (ext.size() != std::strlen(e)) return false;
        for (size_t i = 0; i < ext.size(); ++i)
            if ((ext[i] | 0x20) != e[i]) return false;
        return true;
    };
    if (is("jpg")) return "image/jpeg";
    if (is("gif")) return "image/gif";
    if (is("zip")) return "application/zip";
    return "application/octet-stream";
}

MimePart* newPart(MimeMessage* message) {
    auto part = std::make_unique<MimePart>();
    part->owner = message;
    MimePart* raw = part.get();
    message->store.push_back(std::move(part));
    return raw;
}

MimePart* addEncoded(MimeMessage* message, std::string_view bytes, std::string name) {
    MimePart* part = newPart(message);
    part->desc.kind = KIND_ATTACHMENT;
    part->desc.encoding = ENC_BASE64;
    part->hasFileName = true;
    part->fileName = std::move(name);
    part->data = Base64_Encode(bytes);
    part->next = message->attachments;
    message->attachments = part;
    return part;
}

bool readWholeFile(const std::string& path, std::string* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->clear();
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0) break;
        out->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

void logLines(std::string_view text) {
    // The category log shows the composed lines; a 20 MB attachment would
    // not be read there anyway, so base64 bodies are summarised.
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        Log_Write(LOG_SMTP, "SMPT:Send: '%.*s' ''\n", static_cast<int>(end - pos),
                  text.data() + pos);
        pos = end + 2;
    }
}

} // namespace

MimeMessage* MIME_Create() {
    auto* message = new (std::nothrow) MimeMessage;
    if (!message) return nullptr;
    MimePart* root = newPart(message);
    root->desc.kind = KIND_TEXT_PLAIN;
    message->textParts = root;
    message->desc.kind = KIND_TEXT_PLAIN;
    return message;
}

uint32_t MIME_Destroy(MimeMessage* message) {
    MIME_Close(message);
    return 0;
}

uint32_t MIME_SetText(MimeMessage* message, std::string_view text, const MIME_DESCRIPTOR* desc) {
    if (!message || !message->textParts) return ERR_BADARG;
    MimePart* root = message->textParts;
    if (desc) root->desc = *desc;
    root->desc.kind = KIND_TEXT_PLAIN;
    root->desc.encoding = ENC_NONE;
    root->data.assign(text);
    return 0;
}

uint32_t MIME_AddAttachment(MimeMessage* message, const char* data, size_t length,
                            const std::string& path, MimePart** out, std::string* errorText) {
    if (out) *out = nullptr;
    if (!message || path.empty()) return ERR_BADARG;
    std::string bytes;
    if (data && length > 0) {
        bytes.assign(data, length);
    } else {
        if (!readWholeFile(path, &bytes)) {
            const int err = errno;
            if (errorText)
                *errorText = "Can't read the file:\r\n" + path + "\r\n\r\n" + std::to_string(err) +
                             ": " + std::strerror(err);
            return ERR_OPERATION;
        }
        if (bytes.empty()) return ERR_OPERATION;
    }
    MimePart* part = addEncoded(message, bytes, path);
    if (out) *out = part;
    return 0;
}

uint32_t MIME_AddAttachmentData(MimeMessage* message, std::string_view data, std::string_view name,
                                unsigned index, MimePart** out) {
    if (out) *out = nullptr;
    if (!message) return ERR_BADARG;
    MimePart* part = addEncoded(message, data, Files_SafeName(name, index));
    if (out) *out = part;
    return 0;
}

uint32_t MIME_AddForwardedAttachment(MimeMessage* message, MimePart* source, unsigned index,
                                     MimePart** out) {
    if (out) *out = nullptr;
    if (!message || !source || !source->owner) return ERR_BADARG;
    std::string bytes;
    const uint32_t enc = source->desc.encoding;
    uint32_t rc = ERR_ENCODING;
    if (enc == ENC_BASE64 || enc == ENC_QUOTED_PRINTABLE || enc == ENC_UUENCODE)
        rc = MIME_DecodeAttachment(source, &bytes);
    if (rc == ERR_NOMEM) return rc;
    if (rc != 0) {
        const std::string& raw = source->owner->raw;
        const size_t off = std::min<size_t>(source->bodyOffset, raw.size());
        bytes = raw.substr(off, source->bodyLength);
    }
    return MIME_AddAttachmentData(message, bytes, MIME_GetAttachmentName(source), index, out);
}

uint32_t MIME_RemoveAttachment(MimePart* part) {
    if (!part || !part->owner) return ERR_BADARG;
    MimeMessage* message = part->owner;
    MimePart** link = &message->attachments;
    while (*link && *link != part)
        link = &(*link)->next;
    if (!*link) return ERR_BADARG;
    *link = part->next;
    for (auto it = message->store.begin(); it != message->store.end(); ++it) {
        if (it->get() == part) {
            message->store.erase(it);
            break;
        }
    }
    return 0;
}

int MIME_HasAttachments(const MimeMessage* message) {
    return message && message->attachments ? 1 : 0;
}

std::string MIME_EncodeWords(std::string_view text) {
    if (isAsciiText(text) && text.find("=?") == std::string_view::npos) return std::string(text);
    // 45 bytes make 60 base64 characters: with "=?utf-8?B?" and "?=" a word
    // stays within the 75 of RFC 2047 §2.
    constexpr size_t kChunk = 45;
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = std::min(text.size(), pos + kChunk);
        while (end < text.size() && end > pos + 1 &&
               (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty()) out += ' ';
        out += "=?utf-8?B?";
        out += Base64_Encode(text.substr(pos, end - pos));
        out += "?=";
        pos = end;
    }
    return out;
}

std::string MIME_ComposeHeader(const MIME_HEADER_FIELDS& f) {
    std::string out;
    const std::string name = cleanValue(f.senderName);
    const std::string address = cleanValue(f.senderAddress);
    if (!name.empty() || !address.empty()) {
        std::string from;
        if (!name.empty()) from = isAsciiText(name) ? quoteName(name) : MIME_EncodeWords(name);
        if (!address.empty()) {
            if (!from.empty()) from += ' ';
            from += '<' + address + '>';
        }
        out += foldField("From", from);
    }
    if (!f.replyTo.empty()) out += foldField("Reply-To", encodeAddressList(cleanValue(f.replyTo)));
    out += foldField("To", encodeAddressList(cleanValue(f.to)));
    if (!f.cc.empty()) out += foldField("Cc", encodeAddressList(cleanValue(f.cc)));
    out += foldField("Subject", MIME_EncodeWords(cleanValue(f.subject)));
    out += foldField("Date", cleanValue(f.date));
    if (!f.messageId.empty()) out += foldField("Message-ID", cleanValue(f.messageId));
    out += foldField("X-Mailer", MIME_MAILER_NAME);
    return out;
}

uint32_t MIME_WritePart(const MIME_SINK& sink, const MIME_DESCRIPTOR& desc,
                        std::string_view fileName, std::string_view data,
                        std::string_view boundary) {
    std::string head;
    if (!boundary.empty()) head = "--" + std::string(boundary) + "\r\n";

    if (desc.kind != KIND_ATTACHMENT) {
        std::string text = toCrLf(data);
        std::string charset;
        if (hasHighByte(text)) {
            std::string koi;
            if (desc.charset == CHARSET_KOI8_R && utf8ToKoi8r(text, &koi)) {
                text = std::move(koi);
                charset = desc.charsetName[0] ? cleanValue(desc.charsetName) : "koi8-r";
            } else {
                // Text inside the program is UTF-8, whatever charset the
                // quoted message had.
                charset = "utf-8";
            }
        } else if (desc.charset != CHARSET_NONE && desc.charset != CHARSET_UTF_8 &&
                   desc.charsetName[0]) {
            charset = cleanValue(desc.charsetName);
        }
        for (char& c : charset)
            if (c == '"' || c == '\\') c = '_';
        const bool qp = needsQuotedPrintable(text);
        head += "Content-Type: text/plain;\r\n";
        if (!charset.empty()) head += "\tcharset=\"" + charset + "\"\r\n";
        head += qp ? "Content-Transfer-Encoding: quoted-printable\r\n"
                   : "Content-Transfer-Encoding: 8bit\r\n";
        head += "\r\n";
        logLines(head);
        if (uint32_t rc = sink(head)) return rc;
        if (text.empty()) return 0;
        if (qp) text = encodeQuotedPrintable(text);
        // Inside a multipart body the line break before the delimiter belongs
        // to the delimiter, so the text's own last line break needs another.
        if (!boundary.empty() || text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
            text += "\r\n";
        logLines(text);
        return sink(text);
    }

    const std::string base(baseName(fileName));
    const std::string clean = cleanValue(base);
    head += "Content-type: ";
    head += contentTypeOf(clean);
    head += "; " + fileParam("name", clean) + "\r\n";
    head += "Content-transfer-encoding:base64\r\n";
    head += "Content-disposition: attachment; " + fileParam("filename", clean) + "\r\n";
    head += "\r\n";
    logLines(head);
    if (uint32_t rc = sink(head)) return rc;
    if (!data.empty()) {
        Log_Write(LOG_SMTP, "SMPT:Send: '<%zu bytes of base64>' ''\n", data.size());
        if (uint32_t rc = sink(data)) return rc;
        if (uint32_t rc = sink("\r\n")) return rc;
    }
    return sink("\r\n");
}

uint32_t MIME_Write(const MimeMessage* message, const MIME_SINK& sink) {
    if (!message || !message->textParts || !sink) return ERR_BADARG;
    const MimePart* root = message->textParts;
    std::string line = "MIME-Version: 1.0\r\n";
    if (!message->attachments) {
        logLines(line);
        if (uint32_t rc = sink(line)) return rc;
        return MIME_WritePart(sink, root->desc, {}, root->data, {});
    }
    const std::string boundary = MIME_MakeBoundary();
    line += "Content-type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    logLines(line);
    if (uint32_t rc = sink(line)) return rc;
    if (uint32_t rc = MIME_WritePart(sink, root->desc, {}, root->data, boundary)) return rc;
    for (const MimePart* p = message->attachments; p; p = p->next)
        if (uint32_t rc = MIME_WritePart(sink, p->desc, p->fileName, p->data, boundary)) return rc;
    line = "--" + boundary + "--\r\n";
    logLines(line);
    return sink(line);
}

uint32_t MIME_Random() {
    static std::mutex mu;
    static std::mt19937 gen = [] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), static_cast<unsigned>(::getpid()),
                          static_cast<unsigned>(std::time(nullptr))};
        return std::mt19937(seq);
    }();
    std::lock_guard lock(mu);
    return static_cast<uint32_t>(gen() & 0x7FFFFFFF);
}

std::string MIME_MakeBoundary() {
    char buf[64];
    const char a = static_cast<char>(65 + MIME_Random() % 25);
    const char b = static_cast<char>(65 + MIME_Random() % 25);
    const char c = static_cast<char>(65 + MIME_Random() % 25);
    const unsigned n1 = 17821 + MIME_Random() % 82178;
    const unsigned n2 = 10000 + MIME_Random() % 89999;
    const unsigned n3 = 90000 + MIME_Random() % 9999;
    std::snprintf(buf, sizeof buf, "boundary_%c%c%c%u%u%u", a, b, c, n1, n2, n3);
    return buf;
}

std::string MIME_MakeMessageId(std::string_view address) {
    std::string domain = "localhost";
    const size_t at = address.rfind('@');
    if (at != std::string_view::npos && at + 1 < address.size()) {
        domain.clear();
        for (char c : address.substr(at + 1))
            if (static_cast<unsigned char>(c) > 0x20 && c != '<' && c != '>' && c != 0x7F)
                domain += c;
        if (domain.empty()) domain = "localhost";
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "<%lld.%08X%08X", static_cast<long long>(std::time(nullptr)),
                  MIME_Random(), MIME_Random());
    return std::string(buf) + "@" + domain + ">";
}
