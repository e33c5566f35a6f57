// SPDX-License-Identifier: GPL-3.0-or-later
// The line rule of printed text: where the next printed line of a text
// begins and ends. Knows no printer or font; the caller passes how far each
// character advances the pen, so the rule runs in tests as it runs on paper.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

// Pen position after drawing `c` with the pen at `x` (a tab moves to the
// next tab stop). A result left of `x` is taken as `x`: the pen never moves
// back, which is what lets the rule stop measuring at the page edge.
using PrintAdvance = std::function<double(char32_t c, double x)>;

// One printed line: text[pos, pos + length) is drawn (no trailing carriage
// return), and the next line begins at `next`.
struct PRINT_LINE {
    size_t length = 0;
    size_t next = 0;
};

// The line that begins at `pos` (< text.size(), or == for an empty text),
// given `lineFeed`, the first line feed at or after `pos` (npos: none),
// for a page `pageWidth` wide holding about `charsPerLine` characters (0 is
// taken as 1, so every line makes progress).
//
// A line that ends with a line feed is kept whole when it is narrower than
// the page or not longer than `charsPerLine`; otherwise it is cut to its
// longest prefix narrower than the page, but never shorter than
// `charsPerLine` characters. The last line of a text (no line feed follows)
// is cut to `charsPerLine` characters without measuring. A cut line breaks
// at its last blank (space or tab) when that blank is its third character
// or later; the blank itself is not printed. Otherwise the cut is hard.
//
// Costs about as many advances as the line holds characters up to the page
// edge, whatever the length of the rest of the text.
PRINT_LINE PrintWrap_NextLine(std::u32string_view text, size_t pos, size_t lineFeed,
                              double pageWidth, size_t charsPerLine, const PrintAdvance& advance);

// The first line feed at or after `pos`, from `known`, the one found for an
// earlier position of the same walk (start with text.find(U'\n')). A long
// line is searched once, not once for each of its printed lines.
inline size_t PrintWrap_LineFeed(std::u32string_view text, size_t pos, size_t known) {
    return known != std::u32string_view::npos && known < pos ? text.find(U'\n', pos) : known;
}
