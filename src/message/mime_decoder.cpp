// SPDX-License-Identifier: GPL-3.0-or-later
// The structure of a message: its parts, their kinds, charsets and
// encodings, and the text of a text part.
#include "message/mime_decoder.h"
#include "message/mime_internal.h"

#include "common/status.h"
#include "common/text.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/html_text.h"
#include "message/qp.h"
#include "platform/log.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

using namespace iwmime;

namespace {

void setField(char (&dst)[128], std::string_view src) {
    const std::string_view cut = Text_CutUtf8(src, sizeof dst - 1);
    std::memcpy(dst, cut.data(), cut.size());
    dst[cut.size()] = '\0';
}

std::string_view headerBlock(std::string_view text) {
    const size_t end = text.find("\r\n\r\n");
    return end == npos ? text : text.substr(0, end);
}

// A parameter value after "name=": quoted up to the closing quote, otherwise
// up to CR LF or ";", trimmed.
std::string_view paramValue(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    if (i < s.size() && s[i] == '"') {
        const size_t close = s.find('"', i + 1);
        const size_t crlf = s.find("\r\n", i + 1);
        const size_t end = std::min(close, crlf);
        return s.substr(i + 1, (end == npos ? s.size() : end) - (i + 1));
    }
    size_t end = std::min(s.find("\r\n", i), s.find(';', i));
    if (end == npos) end = s.size();
    return Text_TrimBlanks(s.substr(i, end - i));
}

// Where parameter `key` (ending in "=") starts in a header value: after a
// ';' or a blank, so that "name=" is not found inside "filename=".
size_t findParam(std::string_view value, std::string_view key) {
    for (size_t at = ifind(value, key); at != npos; at = ifind(value, key, at + 1))
        if (at > 0 && (value[at - 1] == ';' || isBlank(value[at - 1]) || value[at - 1] == '\n'))
            return at;
    return npos;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The RFC 2231 form of parameter `param` ("name*=utf-8''%C3%9C.pdf", or its
// numbered pieces "name*0*=...; name*1=..."), percent-decoded and converted
// to UTF-8. False when the value has none.
bool extendedParam(std::string_view value, std::string_view param, std::string* out) {
    std::string raw, charset;
    bool any = false;
    for (int n = -1; n < 64; ++n) {
        const std::string stem = std::string(param) + "*" + (n < 0 ? "" : std::to_string(n));
        bool encoded = true;
        size_t at = findParam(value, n < 0 ? stem + "=" : stem + "*=");
        size_t skip = n < 0 ? stem.size() + 1 : stem.size() + 2;
        if (at == npos && n >= 0) {
            at = findParam(value, stem + "=");
            skip = stem.size() + 1;
            encoded = false;
        }
        if (at == npos) {
            if (n < 0) continue;
            break;
        }
        std::string_view piece = paramValue(value.substr(at + skip));
        if (encoded && !any) {
            // charset'language'text
            const size_t a = piece.find('\'');
            const size_t b = a == npos ? npos : piece.find('\'', a + 1);
            if (b != npos) {
                charset = std::string(piece.substr(0, a));
                piece.remove_prefix(b + 1);
            }
        }
        any = true;
        for (size_t i = 0; i < piece.size(); ++i) {
            int hi, lo;
            if (encoded && piece[i] == '%' && i + 2 < piece.size() &&
                (hi = hexDigit(piece[i + 1])) >= 0 && (lo = hexDigit(piece[i + 2])) >= 0) {
                raw += static_cast<char>(hi * 16 + lo);
                i += 2;
            } else {
                raw += piece[i];
            }
        }
        if (n < 0) break; // the unnumbered form stands alone
    }
    if (!any) return false;
    *out = charset.empty() ? raw : Charset_ToUtf8(raw, charset);
    return true;
}

// Content kind and media type of a header region; with `name`, the file name
// from Content-Type "name=" or Content-Disposition "filename=", which also
// makes the part an attachment.
uint32_t detectKind(std::string_view region, MIME_DESCRIPTOR* desc, std::string* name,
                    bool* hasName) {
    std::string_view value;
    if (!contentTypeValue(region, &value)) {
        setField(desc->contentType, "");
        return KIND_NONE;
    }
    size_t end = std::min(value.find("\r\n"), value.find(';'));
    if (end == npos) end = value.size();
    const std::string_view media = Text_TrimBlanks(value.substr(0, end));
    setField(desc->contentType, media);
    uint32_t kind = KIND_ATTACHMENT;
    if (startsNoCase(media, 0, "text/"))
        kind = startsNoCase(media, 5, "html") ? KIND_TEXT_HTML : KIND_TEXT_PLAIN;
    else if (startsNoCase(media, 0, "multipart/"))
        kind = KIND_MULTIPART;
    if (!name) return kind;
    std::string_view found;
    std::string extended;
    bool have = false, decoded = false;
    std::string_view disp;
    size_t m, vo, vl;
    if (MIME_FindField(region, "\r\n\r\n", "Content-Disposition:", "", &m, &vo, &vl))
        disp = region.substr(vo, vl);
    // Names outside ASCII come as RFC 2231 parameters (what the composer
    // writes) or, from older mailers, as encoded words inside the quotes.
    if (extendedParam(value, "name", &extended) || extendedParam(disp, "filename", &extended)) {
        have = decoded = true;
    } else if (const size_t p = findParam(value, "name="); p != npos) {
        found = paramValue(value.substr(p + 5));
        have = true;
    } else if (const size_t q = findParam(disp, "filename="); q != npos) {
        found = paramValue(disp.substr(q + 9));
        have = true;
    }
    if (have) {
        if (!decoded && found.find("=?") != npos) {
            const std::string field = "\r\nX-Name: " + std::string(found) + "\r\n\r\n";
            if (MIME_GetHeaderFromText(field, "\nX-Name:", &extended) == 0) decoded = true;
        }
        *name = decoded ? std::move(extended) : std::string(found);
        *hasName = true;
        kind = KIND_ATTACHMENT;
    }
    return kind;
}

} // namespace

namespace iwmime {

void detectCharset(std::string_view scope, MIME_DESCRIPTOR* desc) {
    const size_t p = ifind(scope, "charset=");
    if (p == npos) {
        desc->charset = CHARSET_NONE;
        setField(desc->charsetName, "");
        return;
    }
    size_t i = p + 8;
    if (i < scope.size() && scope[i] == '"') ++i;
    size_t j = i;
    while (j < scope.size() && j - i < 127 && scope[j] != '"' && scope[j] != ';' &&
           scope[j] != '\r' && scope[j] != '\n')
        ++j;
    const std::string_view name = scope.substr(i, j - i);
    setField(desc->charsetName, name);
    desc->charset = Charset_Code(name);
}

} // namespace iwmime

namespace {

uint32_t detectEncoding(std::string_view text) {
    const std::string_view header = headerBlock(text);
    const size_t p = ifind(header, "content-transfer-encoding:");
    if (p == npos) return ENC_NONE;
    const size_t from = p + 26;
    const size_t colon = header.find(':', from);
    const std::string_view value =
        header.substr(from, (colon == npos ? header.size() : colon) - from);
    if (ifind(value, "quoted-printable") != npos) return ENC_QUOTED_PRINTABLE;
    if (ifind(value, "base64") != npos) return ENC_BASE64;
    return ENC_NONE;
}

bool extractBoundary(std::string_view region, std::string* boundary) {
    const size_t p = ifind(region, "boundary=");
    if (p == npos) return false;
    size_t i = p + 9;
    while (i < region.size() && isBlank(region[i]))
        ++i;
    const bool quoted = i < region.size() && region[i] == '"';
    if (quoted) ++i;
    size_t j = i;
    while (j < region.size()) {
        const char c = region[j];
        if (c == '\r' || c == '\n' || c == '\0' || c == ';' || (quoted && c == '"')) break;
        ++j;
    }
    std::string_view value = region.substr(i, j - i);
    if (!quoted) value = Text_TrimBlanks(value);
    *boundary = std::string(value);
    return true;
}

class Parser {
  public:
    explicit Parser(MimeMessage* m) : m_(m), raw_(m->raw) {
        // Delimiter searches may pass over the text a few times for nested
        // multiparts; hostile structure that would make them pass over it
        // without end stops here instead.
        budget_ = static_cast<long long>(raw_.size()) * 32 + (16LL << 20);
    }

    void run() {
        root_ = m_->textParts;
        const std::string_view header = headerBlock(raw_);
        m_->desc.kind = detectKind(header, &m_->desc, nullptr, nullptr);
        std::string_view ct;
        if (contentTypeValue(raw_, &ct)) detectCharset(ct, &m_->desc);
        m_->desc.encoding = detectEncoding(raw_);

        size_t match, vo, vl;
        if (!MIME_FindField(raw_, "\r\n\r\n", "\nContent-Type:", "\r\n\r\n", &match, &vo, &vl)) {
            fillRootWithMessage();
            return;
        }
        partHeader(match, header.size() - match, std::string(), true, 0);
    }

  private:
    MimePart* newPart() {
        m_->store.push_back(std::make_unique<MimePart>());
        MimePart* p = m_->store.back().get();
        p->owner = m_;
        return p;
    }

    void appendText(MimePart* p) {
        if (!textTail_) textTail_ = m_->textParts;
        while (textTail_->next)
            textTail_ = textTail_->next;
        textTail_->next = p;
        textTail_ = p;
    }

    void appendAttachment(MimePart* p) {
        if (!attachTail_) {
            p->next = m_->attachments;
            m_->attachments = p;
            attachTail_ = p;
            while (attachTail_->next)
                attachTail_ = attachTail_->next;
            return;
        }
        attachTail_->next = p;
        attachTail_ = p;
    }

    void forgive(const char* what) {
        if (forgiven_) return;
        forgiven_ = true;
        Log_Write(LOG_MIME, "MIME: %s; the rest of the message is not split into parts.\n", what);
    }

    size_t findDelimiter(std::string_view delimiter, size_t from) {
        if (budget_ <= 0) return npos;
        const size_t at = ifind(raw_, delimiter, from);
        budget_ -=
            static_cast<long long>((at == npos ? raw_.size() : at) - std::min(from, raw_.size()));
        if (budget_ <= 0) forgive("delimiter searches went over their budget");
        return at;
    }

    // Where the message's text ends: before the "." line that ends a POP3
    // answer, when the text is one. A "." line inside is the message's own
    // (the server sent it as ".."), not its end.
    size_t textEnd() const { return raw_.ends_with("\r\n.\r\n") ? raw_.size() - 5 : raw_.size(); }

    void fillRootWithMessage() {
        root_->desc = m_->desc;
        const size_t blank = raw_.find("\r\n\r\n");
        const size_t start = blank == npos ? raw_.size() : blank + 4;
        const size_t end = textEnd();
        root_->bodyOffset = static_cast<uint32_t>(start);
        root_->bodyLength = static_cast<uint32_t>(end > start ? end - start : 0);
        scanRoot();
    }

    void scanRoot() {
        // The root's body changes only when it is filled and when this scan
        // cuts it, so one scan finds every block it will ever hold.
        if (rootScanned_ || root_->bodyOffset == 0) return;
        rootScanned_ = true;
        uuScan(root_);
    }

    void partHeader(size_t off, size_t len, const std::string& enclosing, bool top, int depth) {
        if (++passes_ > MIME_MAX_PART_HEADERS) {
            forgive("too many part headers");
            return;
        }
        const std::string_view region = raw_.substr(off, len);
        std::string boundary;
        if (extractBoundary(region, &boundary)) {
            const std::string key = Text_FoldAscii(boundary);
            const bool seen = expanded_.count(key) != 0;
            if (!seen && depth < MIME_MAX_DEPTH) {
                expanded_.insert(key);
                multipart(off, len, "\r\n--" + boundary, top, depth);
                return;
            }
            Log_Write(LOG_MIME, "MIME: multipart header at %zu taken as one part (%s).\n", off,
                      seen ? "its boundary was expanded before" : "nested too deep");
        }
        leaf(off, len, enclosing);
    }

    void multipart(size_t off, size_t len, const std::string& delimiter, bool top, int depth) {
        size_t pos = off + len;
        while (passes_ <= MIME_MAX_PART_HEADERS) {
            const size_t at = findDelimiter(delimiter, pos);
            if (at == npos) break;
            const size_t after = at + delimiter.size();
            // The closing delimiter ends this multipart; the epilogue after
            // it belongs to none of its parts.
            if (raw_.compare(after, 2, "--") == 0) break;
            const size_t blank = raw_.find("\r\n\r\n", after);
            const size_t end = blank == npos ? raw_.size() : blank;
            partHeader(after, end - after, delimiter, false, depth + 1);
            pos = end;
        }
        if (top && root_->next == nullptr && root_->bodyOffset == 0) fillRootWithMessage();
    }

    void leaf(size_t off, size_t len, const std::string& enclosing) {
        if (!(off + len + 4 < raw_.size())) return;
        const std::string_view region = raw_.substr(off, len);
        MimePart tmp;
        tmp.desc.kind = detectKind(region, &tmp.desc, &tmp.fileName, &tmp.hasFileName);
        detectCharset(region, &tmp.desc);
        if (tmp.desc.charset == CHARSET_NONE && m_->desc.charset != CHARSET_NONE) {
            tmp.desc.charset = m_->desc.charset;
            std::memcpy(tmp.desc.charsetName, m_->desc.charsetName, sizeof tmp.desc.charsetName);
        }
        tmp.desc.encoding = detectEncoding(region);
        if (tmp.desc.encoding == ENC_NONE) tmp.desc.encoding = m_->desc.encoding;
        tmp.headerOffset = static_cast<uint32_t>(off);
        tmp.headerLength = static_cast<uint32_t>(len);
        const size_t bodyOffset = off + len + 4;
        tmp.bodyOffset = static_cast<uint32_t>(bodyOffset);
        const size_t end = enclosing.empty() ? textEnd() : findDelimiter(enclosing, off + len + 2);
        if (end == npos)
            tmp.bodyLength = static_cast<uint32_t>(raw_.size() - bodyOffset);
        else
            tmp.bodyLength = static_cast<uint32_t>(end >= bodyOffset ? end - bodyOffset : 0);

        MimePart* target;
        if (tmp.desc.kind == KIND_ATTACHMENT) {
            target = newPart();
            appendAttachment(target);
        } else if (root_->bodyOffset == 0) {
            target = root_;
        } else {
            target = newPart();
            appendText(target);
        }
        target->desc = tmp.desc;
        target->fileName = std::move(tmp.fileName);
        target->hasFileName = tmp.hasFileName;
        target->headerOffset = tmp.headerOffset;
        target->headerLength = tmp.headerLength;
        target->bodyOffset = tmp.bodyOffset;
        target->bodyLength = tmp.bodyLength;
        if (tmp.desc.kind != KIND_ATTACHMENT) scanRoot();
    }

    // Uuencoded blocks in a text body become attachments placed before the
    // MIME attachments (later blocks first); the body ends before the first.
    void uuScan(MimePart* part) {
        const std::string_view body = raw_.substr(part->bodyOffset, part->bodyLength);
        bool cut = false;
        size_t pos = 0;
        // The next end line after the latest begin line: many begin lines
        // without an end must not each search the rest of the body again.
        size_t nextEnd = 0;
        bool nextEndKnown = false;
        while (true) {
            const size_t begin = ifind(body, "\r\nbegin ", pos);
            if (begin == npos) break;
            const size_t afterBegin = begin + 8;
            pos = afterBegin;
            if (!nextEndKnown || (nextEnd != npos && nextEnd < afterBegin)) {
                nextEnd = ifind(body, "\r\nend\r\n", afterBegin);
                nextEndKnown = true;
            }
            size_t endLine = nextEnd;
            if (endLine == npos && body.size() >= 6) {
                endLine = ifind(body, "\r\nend", body.size() - 6);
                if (endLine != npos && endLine < afterBegin) endLine = npos;
            }
            if (endLine == npos) continue;
            const size_t lineEnd = body.find("\r\n", afterBegin);
            if (lineEnd == npos || lineEnd > endLine) continue;
            const std::string_view line = body.substr(afterBegin, lineEnd - afterBegin);
            size_t i = 0;
            while (i < line.size() && isBlank(line[i]))
                ++i;
            const size_t modeStart = i;
            while (i < line.size() && line[i] >= '0' && line[i] <= '7')
                ++i;
            if (i == modeStart || i >= line.size() || !isBlank(line[i])) continue;
            while (i < line.size() && isBlank(line[i]))
                ++i;
            size_t j = i;
            while (j < line.size() && !isBlank(line[j]))
                ++j;
            if (j == i) continue;
            const std::string_view name = Text_CutUtf8(line.substr(i, j - i), MIME_MAX_NAME);

            if (!cut) {
                part->bodyLength = static_cast<uint32_t>(begin);
                cut = true;
            }
            MimePart* a = newPart();
            a->desc.kind = KIND_ATTACHMENT;
            a->desc.encoding = ENC_UUENCODE;
            a->fileName = std::string(name);
            a->hasFileName = true;
            const size_t dataStart = lineEnd + 2;
            a->bodyOffset = static_cast<uint32_t>(part->bodyOffset + dataStart);
            a->bodyLength = static_cast<uint32_t>(endLine > dataStart ? endLine - dataStart : 0);
            a->next = m_->attachments;
            m_->attachments = a;
            if (!attachTail_) attachTail_ = a;
            pos = lineEnd;
        }
    }

    MimeMessage* m_;
    std::string_view raw_;
    MimePart* root_ = nullptr;
    MimePart* attachTail_ = nullptr;
    std::unordered_set<std::string> expanded_;
    MimePart* textTail_ = nullptr;
    int passes_ = 0;
    long long budget_ = 0;
    bool rootScanned_ = false;
    bool forgiven_ = false;
};

MimePart* selectPart(const MimeMessage* m, uint32_t selector) {
    const auto first = [&](uint32_t kind) -> MimePart* {
        for (MimePart* p = m->textParts; p; p = p->next)
            if (p->desc.kind == kind) return p;
        return nullptr;
    };
    const auto last = [&](uint32_t kind) -> MimePart* {
        MimePart* found = nullptr;
        for (MimePart* p = m->textParts; p; p = p->next)
            if (p->desc.kind == kind) found = p;
        return found;
    };
    switch (selector) {
    case KIND_NONE:
    case KIND_MULTIPART:
    case KIND_TEXT_PLAIN:
    case KIND_TEXT_HTML:
    case KIND_ATTACHMENT:
        return first(selector);
    case SELECT_PREFER_PLAIN:
        if (MimePart* p = first(KIND_TEXT_PLAIN)) return p;
        if (MimePart* p = last(KIND_TEXT_HTML)) return p;
        return last(KIND_NONE);
    case SELECT_PREFER_HTML:
        if (MimePart* p = first(KIND_TEXT_HTML)) return p;
        if (MimePart* p = last(KIND_TEXT_PLAIN)) return p;
        return last(KIND_NONE);
    default:
        return nullptr;
    }
}

} // namespace

MimeMessage* MIME_Open(const char* text, size_t length) {
    if (!text) return nullptr;
    if (length == 0) length = std::strlen(text);
    if (length == 0 || length > MIME_MAX_TEXT) return nullptr;
    MimeMessage* m = nullptr;
    try {
        m = new MimeMessage;
        m->raw.assign(text, length);
        m->store.push_back(std::make_unique<MimePart>());
        m->textParts = m->store.back().get();
        m->textParts->owner = m;
    } catch (const std::bad_alloc&) {
        delete m;
        return nullptr;
    }
    try {
        Parser(m).run();
    } catch (const std::bad_alloc&) {
        // The parts made so far stay usable.
        Log_Write(LOG_MIME, "MIME: out of memory while parsing; parts so far kept.\n");
    }
    return m;
}

void MIME_Close(MimeMessage* message) {
    delete message;
}

std::string MIME_ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

const char* MIME_GetRaw(const MimeMessage* message, size_t* length) {
    if (!message) return nullptr;
    if (length) *length = message->raw.size();
    return message->raw.c_str();
}

uint32_t MIME_GetContentFlags(const MimeMessage* message, uint32_t* flags) {
    if (!message || !flags) return ERR_BADARG;
    uint32_t f = 0;
    for (const MimePart* p = message->textParts; p; p = p->next) {
        if (p->desc.kind == KIND_TEXT_HTML) f |= MIME_HAS_HTML;
        if (p->desc.kind == KIND_TEXT_PLAIN) f |= MIME_HAS_PLAIN;
    }
    if (message->attachments) f |= MIME_HAS_ATTACHMENTS;
    *flags = f;
    return 0;
}

uint32_t MIME_GetText(const MimeMessage* message, uint32_t selector, std::string* text,
                      size_t maxBytes) {
    if (!message || !text) return ERR_BADARG;
    text->clear();
    const MimePart* part = selectPart(message, selector);
    if (!part) return ERR_NOT_FOUND;
    try {
        const std::string_view body = bodyOf(part);
        std::string decoded;
        std::string_view bytes = body;
        uint32_t rc = 0;
        if (part->desc.encoding == ENC_BASE64)
            rc = Base64_Decode(body, &decoded);
        else if (part->desc.encoding == ENC_QUOTED_PRINTABLE)
            rc = Qp_Decode(body, &decoded);
        if (rc == ERR_NOMEM) return ERR_NOMEM;
        if (part->desc.encoding == ENC_BASE64 || part->desc.encoding == ENC_QUOTED_PRINTABLE)
            bytes = decoded;
        if (const size_t nul = bytes.find('\0'); nul != npos) bytes = bytes.substr(0, nul);
        std::string utf8 = Charset_ToUtf8(bytes, part->desc.charsetName);
        if ((selector == SELECT_PREFER_PLAIN || selector == SELECT_PREFER_HTML) &&
            part->desc.kind == KIND_TEXT_HTML)
            utf8 = MIME_HtmlToText(utf8);
        if (utf8.size() > maxBytes) utf8.resize(Text_CutUtf8(utf8, maxBytes).size());
        *text = std::move(utf8);
        return 0;
    } catch (const std::bad_alloc&) {
        text->clear();
        return ERR_NOMEM;
    }
}

uint32_t MIME_GetPartInfo(const MimeMessage* message, uint32_t selector, MIME_DESCRIPTOR* info) {
    if (!message || !info) return ERR_BADARG;
    if (selector == 0) return 0;
    const MimePart* part = selectPart(message, selector);
    *info = part ? part->desc : message->desc;
    return 0;
}
