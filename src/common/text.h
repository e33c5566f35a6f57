// SPDX-License-Identifier: GPL-3.0-or-later
// Text helpers shared by every layer. All text inside the program is UTF-8;
// names (store keys, table keys, command-line keywords) fold ASCII letters
// only, so the same two names compare equal everywhere.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// ASCII lower-casing of a whole text; bytes >= 0x80 stay as they are.
std::string Text_FoldAscii(std::string_view s);

// True when a and b are equal ignoring ASCII letter case.
bool Text_EqualsNoCase(std::string_view a, std::string_view b);

// Three-way compare ignoring ASCII letter case (bytes compare unsigned).
int Text_CompareNoCase(std::string_view a, std::string_view b);

// The longest prefix of s that is at most max_bytes long and does not end
// inside a UTF-8 sequence. Invalid bytes count as one character each.
std::string_view Text_CutUtf8(std::string_view s, size_t max_bytes);

// Decodes the character that starts at s[*pos] and moves *pos past it. A byte
// that does not start a well-formed sequence is returned as its own value
// (0x80..0xFF) and counts as one character, as in Text_CutUtf8.
// Precondition: *pos < s.size().
char32_t Text_NextUtf8(std::string_view s, size_t* pos);

// Appends code point c (at most U+10FFFF, not a surrogate) as UTF-8.
void Text_AppendUtf8(std::string& out, char32_t c);

// True when s is well-formed UTF-8 (no overlongs, no surrogates, <= U+10FFFF).
bool Text_IsValidUtf8(std::string_view s);

// The value of one hex digit (either case), or -1.
int Text_HexDigit(char c);

// The bytes as lower-case hex digits, two a byte.
std::string Text_ToHex(std::string_view bytes);

// The bytes written as pairs of hex digits (either case). False, and *out
// unspecified, when `hex` is empty, of odd length or holds another character.
bool Text_FromHex(std::string_view hex, std::string* out);

// Trims blanks and tabs at both ends.
std::string_view Text_TrimBlanks(std::string_view s);
