// SPDX-License-Identifier: GPL-3.0-or-later
// Reduction of an HTML text to plain text for display and quoting.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// One pass over `html`, stopping at its end or at a NUL: tags are dropped,
// an anchor's href target is written in double quotes before the link text,
// "<BR>" gives CR LF, "<HR" CR LF CR LF; "&nbsp" is dropped, "&amp", "&quot",
// "&gt" and "&lt" give their characters, "&#" and decimal digits give the
// character of that number modulo 65536 in UTF-8 (nothing for 0, U+FFFD for
// a lone surrogate); runs of blank lines shrink to one empty line. The
// result is never longer than the input.
std::string MIME_HtmlToText(std::string_view html);

// The same into a caller's buffer of `capacity` bytes (NUL-terminated, cut
// on a UTF-8 boundary). `out` may be the same buffer as `html`. Returns the
// length written without the NUL; nothing is written when capacity is 0.
size_t MIME_HtmlToText(char* out, size_t capacity, const char* html, size_t htmlLength);
