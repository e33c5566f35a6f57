// SPDX-License-Identifier: GPL-3.0-or-later
// What the parts of the MIME decoder (structure, header fields,
// attachments) share. Internal to message/.
#pragma once

#include "common/text.h"
#include "message/mime_decoder.h"

#include <cstring>
#include <string_view>

namespace iwmime {

inline constexpr size_t npos = std::string_view::npos;

inline unsigned char lowerAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline bool startsNoCase(std::string_view s, size_t at, std::string_view prefix) {
    return at <= s.size() && s.size() - at >= prefix.size() &&
           Text_EqualsNoCase(s.substr(at, prefix.size()), prefix);
}

// First position >= from where `needle` occurs in `hay`, ignoring ASCII case.
inline size_t ifind(std::string_view hay, std::string_view needle, size_t from = 0) {
    if (from > hay.size() || hay.size() - from < needle.size()) return npos;
    if (needle.empty()) return from;
    const size_t last = hay.size() - needle.size();
    const unsigned char first = lowerAscii(static_cast<unsigned char>(needle[0]));
    const bool letter = first >= 'a' && first <= 'z';
    const std::string_view rest = needle.substr(1);
    for (size_t i = from; i <= last; ++i) {
        if (!letter) {
            const void* p = std::memchr(hay.data() + i, first, last - i + 1);
            if (!p) return npos;
            i = static_cast<size_t>(static_cast<const char*>(p) - hay.data());
        } else if (lowerAscii(static_cast<unsigned char>(hay[i])) != first) {
            continue;
        }
        if (Text_EqualsNoCase(hay.substr(i + 1, rest.size()), rest)) return i;
    }
    return npos;
}

// The value of Content-Type in `scope` (folds included); false when absent.
inline bool contentTypeValue(std::string_view scope, std::string_view* value) {
    size_t m, vo, vl;
    if (!MIME_FindField(scope, "\r\n\r\n", "\nContent-Type:", "", &m, &vo, &vl)) return false;
    *value = scope.substr(vo, vl);
    return true;
}

// The charset code and name a Content-Type value declares (none: CHARSET_NONE
// and an empty name).
void detectCharset(std::string_view scope, MIME_DESCRIPTOR* desc);

// The still encoded body of a part (empty when its offset is out of range).
inline std::string_view bodyOf(const MimePart* p) {
    const std::string& raw = p->owner->raw;
    if (p->bodyOffset > raw.size()) return {};
    return std::string_view(raw).substr(p->bodyOffset, p->bodyLength);
}

} // namespace iwmime
