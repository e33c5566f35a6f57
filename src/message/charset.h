// SPDX-License-Identifier: GPL-3.0-or-later
// Charsets of incoming and outgoing mail. Everything inside the program is
// UTF-8: a declared charset is converted with iconv, after the fixed
// single-byte tables where those apply (KOI8-R and ISO-8859-2 are first
// mapped to Windows-1251 and Windows-1250), and bytes that are invalid in the
// declared charset never produce invalid UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline constexpr uint32_t CHARSET_NONE = 0; // no "charset=" at all
inline constexpr uint32_t CHARSET_WINDOWS_1251 = 4;
inline constexpr uint32_t CHARSET_KOI8_R = 5;
inline constexpr uint32_t CHARSET_ISO_8859_2 = 6;
inline constexpr uint32_t CHARSET_ISO_8859_5 = 7;
inline constexpr uint32_t CHARSET_UTF_8 = 8;
inline constexpr uint32_t CHARSET_OTHER = 96;

// The charset code of a charset name: the start of the name compared,
// ignoring case, with "koi8-r", "windows-1251", "iso-8859-2", "iso-8859-5"
// and "utf-8" in that order; anything else is CHARSET_OTHER.
uint32_t Charset_Code(std::string_view name);

// In-place byte tables; each stops at a NUL or at the end of `text`.
void Charset_Koi8rTo1251(std::span<char> text);
void Charset_Iso88592To1250(std::span<char> text);
// For composed text: bytes without a KOI8-R counterpart become 0.
void Charset_1251ToKoi8r(std::span<char> text);

// Converts `text` in the charset `name` (as declared in mail: quotes and
// blanks around it are ignored) to UTF-8. Always succeeds:
// - UTF-8 and US-ASCII: valid sequences are kept, each invalid byte is read
//   as Windows-1252;
// - an empty or unknown name: valid UTF-8 is kept as it is, anything else is
//   read as Windows-1252;
// - any charset iconv knows: a byte sequence that is invalid there becomes
//   U+FFFD.
std::string Charset_ToUtf8(std::string_view text, std::string_view name);

// Makes any byte string valid UTF-8: kept when it is, otherwise each byte that
// does not start a well-formed sequence is read as Windows-1252.
std::string Charset_RepairUtf8(std::string_view text);
