// SPDX-License-Identifier: GPL-3.0-or-later
// Header fields: finding a field, unfolding it and decoding its encoded
// words (RFC 2047).
#include "message/mime_decoder.h"
#include "message/mime_internal.h"

#include "common/status.h"
#include "common/text.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/qp.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace iwmime;

namespace {

// Header text outside encoded words: UTF-8 as it stands, otherwise in the
// charset the text's Content-Type declares (Windows-1252 without one).
void appendPlain(std::string* out, std::string_view s, std::string_view charset) {
    if (Text_IsValidUtf8(s))
        out->append(s);
    else
        out->append(Charset_ToUtf8(s, charset));
}

bool allWhite(std::string_view s) {
    for (const char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

std::string decodeWords(std::string_view v, std::string_view charset, size_t maxBytes) {
    std::string out;
    size_t i = 0;
    bool afterWord = false;
    while (i < v.size() && out.size() < maxBytes) {
        const size_t p = v.find("=?", i);
        if (p == npos) break;
        // =?charset?B|Q?text?=
        size_t q1 = p + 2;
        while (q1 < v.size() && q1 - p <= 66 && v[q1] != '?' && !isBlank(v[q1]) && v[q1] != '\r' &&
               v[q1] != '\n')
            ++q1;
        const bool shape = q1 < v.size() && v[q1] == '?' && q1 > p + 2 && q1 + 2 < v.size() &&
                           v[q1 + 2] == '?' && std::strchr("BbQq", v[q1 + 1]) != nullptr &&
                           v[q1 + 1] != '\0';
        if (!shape) {
            appendPlain(&out, v.substr(i, p + 2 - i), charset);
            i = p + 2;
            afterWord = false;
            continue;
        }
        const size_t end = v.find("?=", q1 + 3);
        // No later word can be complete either.
        if (end == npos) break;
        const std::string_view gap = v.substr(i, p - i);
        // White space between two encoded words is not part of the text.
        if (!(afterWord && allWhite(gap))) appendPlain(&out, gap, charset);
        const std::string_view wordCharset = v.substr(p + 2, q1 - (p + 2));
        const std::string_view payload = v.substr(q1 + 3, end - (q1 + 3));
        std::string bytes;
        if (v[q1 + 1] == 'B' || v[q1 + 1] == 'b')
            Base64_Decode(payload, &bytes);
        else
            Qp_Decode(payload, &bytes, true);
        out += Charset_ToUtf8(bytes, wordCharset);
        i = end + 2;
        afterWord = true;
    }
    if (i < v.size() && out.size() < maxBytes) appendPlain(&out, v.substr(i), charset);
    return out;
}

// Folds joined (a line break and the blanks after it become one space),
// blanks trimmed at both ends.
std::string unfoldTrim(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
        if (c == '\n') {
            out += ' ';
            while (i + 1 < s.size() && isBlank(s[i + 1]))
                ++i;
            continue;
        }
        out += c;
    }
    return std::string(Text_TrimBlanks(out));
}

} // namespace

int MIME_FindField(std::string_view text, std::string_view stop, std::string_view field,
                   std::string_view terminator, size_t* match, size_t* valueOffset,
                   size_t* valueLength) {
    *match = *valueOffset = *valueLength = 0;
    if (field.empty()) return 0;
    size_t limit = text.size();
    if (!stop.empty()) {
        const size_t s = ifind(text, stop);
        if (s != npos) limit = s;
    }
    // A match must start before the stop marker; it may run past it.
    const size_t searchEnd = std::min(text.size(), limit + field.size() - 1);
    const size_t at = ifind(text.substr(0, searchEnd), field);
    if (at == npos) return 0;
    const size_t vo = at + field.size();
    size_t vl;
    if (!terminator.empty()) {
        const size_t t = text.find(terminator, vo);
        vl = (t == npos ? text.size() : t) - vo;
    } else {
        size_t i = vo;
        while (true) {
            const size_t lf = text.find('\n', i);
            if (lf == npos) {
                vl = text.size() - vo;
                break;
            }
            if (lf + 1 < text.size() && isBlank(text[lf + 1])) {
                i = lf + 1;
                continue;
            }
            size_t end = lf;
            if (end > vo && text[end - 1] == '\r') --end;
            vl = end - vo;
            break;
        }
    }
    *match = at;
    *valueOffset = vo;
    *valueLength = vl;
    return 1;
}

uint32_t MIME_GetHeaderFromText(std::string_view text, std::string_view field, std::string* value,
                                size_t maxBytes) {
    if (!value || field.empty()) return ERR_BADARG;
    value->clear();
    size_t m, vo, vl;
    if (!MIME_FindField(text, "\r\n\r\n", field, "", &m, &vo, &vl)) return ERR_NOT_FOUND;
    try {
        MIME_DESCRIPTOR ct{};
        std::string_view ctValue;
        if (contentTypeValue(text, &ctValue)) detectCharset(ctValue, &ct);
        std::string out = unfoldTrim(decodeWords(text.substr(vo, vl), ct.charsetName, maxBytes));
        if (out.size() > maxBytes) out.resize(Text_CutUtf8(out, maxBytes).size());
        *value = std::move(out);
        return 0;
    } catch (const std::bad_alloc&) {
        value->clear();
        return ERR_NOMEM;
    }
}

uint32_t MIME_GetHeader(const MimeMessage* message, std::string_view field, std::string* value,
                        size_t maxBytes) {
    if (!message) return ERR_BADARG;
    return MIME_GetHeaderFromText(message->raw, field, value, maxBytes);
}

bool MIME_GetUnfoldedHeader(std::string_view text, std::string_view field, std::string* value,
                            size_t maxBytes) {
    if (!value) return false;
    value->clear();
    size_t m, vo, vl;
    if (!MIME_FindField(text, "\r\n\r\n", field, "", &m, &vo, &vl)) return false;
    const std::string_view v = text.substr(vo, vl);
    std::string out;
    size_t i = 0;
    while (i < v.size() && isBlank(v[i]))
        ++i;
    for (; i < v.size() && out.size() < maxBytes; ++i) {
        if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') {
            ++i;
            while (i + 1 < v.size() && isBlank(v[i + 1]))
                ++i;
            // A fold right after the colon leaves no leading space.
            if (i + 1 < v.size() && !out.empty()) out += ' ';
            continue;
        }
        out += v[i];
    }
    *value = std::move(out);
    return true;
}
