// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/charset.h"

#include "common/text.h"

#include <array>
#include <cerrno>
#include <iconv.h>

namespace {

constexpr std::array<uint8_t, 128> kKoi8rTo1251 = {
    0x3F, 0xA6, 0x3F, 0xAC, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x2B, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0xAF, 0x3F, 0x3F, 0x3F, 0xA2, 0xBA, 0xAA, 0xA0, 0xBF, 0xB0, 0xA4, 0xB7, 0xA1,
    0x3F, 0x3F, 0x3F, 0xB8, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0xA8, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x2B, 0x3F, 0x3F, 0xB9,
    0xFE, 0xE0, 0xE1, 0xF6, 0xE4, 0xE5, 0xF4, 0xE3, 0xF5, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE,
    0xEF, 0xFF, 0xF0, 0xF1, 0xF2, 0xF3, 0xE6, 0xE2, 0xFC, 0xFB, 0xE7, 0xF8, 0xFD, 0xF9, 0xF7, 0xFA,
    0xDE, 0xC0, 0xC1, 0xD6, 0xC4, 0xC5, 0xD4, 0xC3, 0xD5, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE,
    0xCF, 0xDF, 0xD0, 0xD1, 0xD2, 0xD3, 0xC6, 0xC2, 0xDC, 0xDB, 0xC7, 0xD8, 0xDD, 0xD9, 0xD7, 0xDA,
};

constexpr std::array<uint8_t, 128> k1251ToKoi8r = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0x9A, 0x9F, 0x97, 0,    0x9D, 0,    0x81, 0,    0xB3, 0,    0x99, 0,    0x83, 0,    0,    0x93,
    0x9C, 0,    0,    0,    0,    0,    0,    0x9E, 0xA3, 0xBF, 0x98, 0,    0,    0,    0,    0x9B,
    0xE1, 0xE2, 0xF7, 0xE7, 0xE4, 0xE5, 0xF6, 0xFA, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0,
    0xF2, 0xF3, 0xF4, 0xF5, 0xE6, 0xE8, 0xE3, 0xFE, 0xFB, 0xFD, 0xFF, 0xF9, 0xF8, 0xFC, 0xE0, 0xF1,
    0xC1, 0xC2, 0xD7, 0xC7, 0xC4, 0xC5, 0xD6, 0xDA, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0,
    0xD2, 0xD3, 0xD4, 0xD5, 0xC6, 0xC8, 0xC3, 0xDE, 0xDB, 0xDD, 0xDF, 0xD9, 0xD8, 0xDC, 0xC0, 0xD1,
};

// ISO-8859-2 0xA0..0xBF to the Windows-1250 byte of the same character.
constexpr std::array<uint8_t, 32> kIso88592To1250 = {
    0xA0, 0xA5, 0xA2, 0xA3, 0xA4, 0xBC, 0x8C, 0xA7, 0xA8, 0x8A, 0xAA, 0x8D, 0x8F, 0xAD, 0x8E, 0xAF,
    0xB0, 0xB9, 0xB2, 0xB3, 0xB4, 0xBE, 0x9C, 0xA1, 0xB8, 0x9A, 0xBA, 0x9D, 0x9F, 0xBD, 0x9E, 0xBF,
};

// Windows-1252 0x80..0x9F; the five unassigned bytes become U+FFFD.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

char32_t cp1252(unsigned char b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
    return b;
}

bool isAscii(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && Text_EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view cleanName(std::string_view name) {
    name = Text_TrimBlanks(name);
    while (!name.empty() && (name.front() == '"' || name.front() == '\''))
        name.remove_prefix(1);
    while (!name.empty() && (name.back() == '"' || name.back() == '\''))
        name.remove_suffix(1);
    // RFC 2231 language suffix: "utf-8*en".
    if (const size_t star = name.find('*'); star != std::string_view::npos)
        name = name.substr(0, star);
    return Text_TrimBlanks(name);
}

// Charsets whose ASCII range is not plain ASCII bytes.
bool asciiIncompatible(std::string_view n) {
    return startsNoCase(n, "utf-16") || startsNoCase(n, "utf-32") || startsNoCase(n, "utf-7") ||
           startsNoCase(n, "ucs") || startsNoCase(n, "unicode") || startsNoCase(n, "iso-2022") ||
           startsNoCase(n, "hz");
}

// Converts with iconv; false when iconv does not know the charset.
bool convertIconv(std::string_view text, const std::string& from, std::string* out) {
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out->clear();
    out->reserve(text.size() + text.size() / 2);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char buf[4096];
    while (true) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(cd, inLeft ? &in : nullptr, &inLeft, &o, &oLeft);
        out->append(buf, static_cast<size_t>(o - buf));
        if (r != static_cast<size_t>(-1)) {
            if (inLeft == 0) {
                // Flush any shift state.
                o = buf;
                oLeft = sizeof buf;
                iconv(cd, nullptr, nullptr, &o, &oLeft);
                out->append(buf, static_cast<size_t>(o - buf));
                break;
            }
            continue;
        }
        if (errno == E2BIG) continue;
        // EILSEQ or a sequence cut off at the end: one replacement
        // character for the offending byte, then on.
        *out += "\xEF\xBF\xBD";
        if (errno == EINVAL || inLeft <= 1) {
            inLeft = 0;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            break;
        }
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return true;
}

} // namespace

uint32_t Charset_Code(std::string_view name) {
    if (startsNoCase(name, "koi8-r")) return CHARSET_KOI8_R;
    if (startsNoCase(name, "windows-1251")) return CHARSET_WINDOWS_1251;
    if (startsNoCase(name, "iso-8859-2")) return CHARSET_ISO_8859_2;
    if (startsNoCase(name, "iso-8859-5")) return CHARSET_ISO_8859_5;
    if (startsNoCase(name, "utf-8")) return CHARSET_UTF_8;
    return CHARSET_OTHER;
}

void Charset_Koi8rTo1251(std::span<char> text) {
    for (char& c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) break;
        if (b >= 0x80) c = static_cast<char>(kKoi8rTo1251[b - 0x80]);
    }
}

void Charset_Iso88592To1250(std::span<char> text) {
    for (char& c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) break;
        if (b >= 0xA0 && b <= 0xBF) c = static_cast<char>(kIso88592To1250[b - 0xA0]);
    }
}

void Charset_1251ToKoi8r(std::span<char> text) {
    for (char& c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) break;
        if (b >= 0x80) c = static_cast<char>(k1251ToKoi8r[b - 0x80]);
    }
}

std::string Charset_RepairUtf8(std::string_view text) {
    if (Text_IsValidUtf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        const char32_t c = Text_NextUtf8(text, &pos);
        if (pos - start == 1 && static_cast<unsigned char>(text[start]) >= 0x80)
            Text_AppendUtf8(out, cp1252(static_cast<unsigned char>(text[start])));
        else
            out.append(text.data() + start, pos - start);
        (void)c;
    }
    return out;
}

std::string Charset_ToUtf8(std::string_view text, std::string_view name) {
    name = cleanName(name);
    if (name.empty() || startsNoCase(name, "utf-8") || startsNoCase(name, "utf8") ||
        startsNoCase(name, "us-ascii") || Text_EqualsNoCase(name, "ascii") ||
        (isAscii(text) && !asciiIncompatible(name)))
        return Charset_RepairUtf8(text);
    std::string work(text);
    std::string from(name);
    switch (Charset_Code(name)) {
    case CHARSET_KOI8_R:
        Charset_Koi8rTo1251(work);
        from = "WINDOWS-1251";
        break;
    case CHARSET_ISO_8859_2:
        Charset_Iso88592To1250(work);
        from = "WINDOWS-1250";
        break;
    default:
        break;
    }
    std::string out;
    if (!convertIconv(work, from, &out)) return Charset_RepairUtf8(text);
    // glibc passes obsolete 5- and 6-byte sequences through its UTF-8 reader
    // (for names it takes as UTF-8, such as "utf=8"), so its output is
    // checked like any other text from outside.
    if (!Text_IsValidUtf8(out)) out = Charset_RepairUtf8(out);
    return out;
}
