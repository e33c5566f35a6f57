// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/text.h"
#include "common/status.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char foldByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 when the
// bytes there are not one.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    if (b(i + 1) < lo || b(i + 1) > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return len;
}

} // namespace

const char* Status_Name(uint32_t code) {
    switch (code) {
    case 0:
        return "OK";
    case ERR_FAILED:
        return "ERR_FAILED";
    case ERR_NOMEM:
        return "ERR_NOMEM";
    case ERR_NOT_READY:
        return "ERR_NOT_READY";
    case ERR_BADARG:
        return "ERR_BADARG";
    case ERR_NOT_FOUND:
        return "ERR_NOT_FOUND";
    case ERR_EMPTY_NAME:
        return "ERR_EMPTY_NAME";
    case ERR_EXISTS:
        return "ERR_EXISTS";
    case ERR_CANCELLED:
        return "ERR_CANCELLED";
    case ERR_SKIPPED:
        return "ERR_SKIPPED";
    case ERR_ENCODING:
        return "ERR_ENCODING";
    case ERR_CREATE:
        return "ERR_CREATE";
    case ERR_TIMEOUT:
        return "ERR_TIMEOUT";
    case ERR_OPERATION:
        return "ERR_OPERATION";
    case ERR_REFUSED:
        return "ERR_REFUSED";
    default:
        return "unknown status";
    }
}

std::string Text_FoldAscii(std::string_view s) {
    std::string out(s);
    for (auto& ch : out)
        ch = static_cast<char>(foldByte(static_cast<unsigned char>(ch)));
    return out;
}

bool Text_EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && Text_CompareNoCase(a, b) == 0;
}

int Text_CompareNoCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = foldByte(static_cast<unsigned char>(a[i]));
        const unsigned char y = foldByte(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string_view Text_CutUtf8(std::string_view s, size_t max_bytes) {
    if (s.size() <= max_bytes) return s;
    size_t end = 0;
    while (end < max_bytes) {
        const size_t len = std::max<size_t>(1, utf8SequenceLength(s, end));
        if (end + len > max_bytes) break;
        end += len;
    }
    return s.substr(0, end);
}

char32_t Text_NextUtf8(std::string_view s, size_t* pos) {
    const size_t i = *pos;
    const size_t len = utf8SequenceLength(s, i);
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    if (len <= 1) {
        *pos = i + 1;
        return b(i);
    }
    // The lead byte keeps 7 - len payload bits; each continuation byte six.
    char32_t c = b(i) & (0x7Fu >> len);
    for (size_t k = 1; k < len; ++k)
        c = (c << 6) | (b(i + k) & 0x3Fu);
    *pos = i + len;
    return c;
}

void Text_AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool Text_IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        // Mail and profiles are mostly ASCII: eight bytes at a time while no
        // byte has its high bit set.
        uint64_t word;
        if (i + sizeof word <= s.size()) {
            std::memcpy(&word, s.data() + i, sizeof word);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += sizeof word;
                continue;
            }
        }
        const size_t len = utf8SequenceLength(s, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string_view Text_TrimBlanks(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

int Text_HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Text_ToHex(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

bool Text_FromHex(std::string_view hex, std::string* out) {
    if (hex.empty() || hex.size() % 2) return false;
    out->clear();
    out->reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = Text_HexDigit(hex[i]), lo = Text_HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi << 4 | lo);
    }
    return true;
}
