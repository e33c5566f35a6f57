// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/print_wrap.h"

#include <algorithm>

namespace {

bool isBlank(char32_t c) {
    return c == U' ' || c == U'\t';
}

// Breaks a cut piece of `kept` characters at `pos` at its last blank from
// the third character on; a blank in the first two would leave a line of
// one or two characters, so the cut stays hard then.
PRINT_LINE breakAtBlank(std::u32string_view text, size_t pos, size_t kept) {
    for (size_t p = kept; p-- > 2;)
        if (isBlank(text[pos + p])) return {p, pos + p + 1};
    return {kept, pos + kept};
}

} // namespace

PRINT_LINE PrintWrap_NextLine(std::u32string_view text, size_t pos, size_t lineFeed,
                              double pageWidth, size_t charsPerLine, const PrintAdvance& advance) {
    const size_t n = std::max<size_t>(charsPerLine, 1);
    pos = std::min(pos, text.size());
    PRINT_LINE line;
    const size_t lf = lineFeed;
    if (lf != std::u32string_view::npos) {
        const size_t len = lf - pos;
        // The widest prefix that still fits: the pen only moves right, so
        // the prefixes narrower than the page are exactly those before the
        // first character that reaches the edge, and the scan stops there.
        size_t fits = 0;
        double x = 0;
        if (len > n) {
            while (fits < len) {
                x = std::max(x, advance(text[pos + fits], x));
                if (x >= pageWidth) break;
                ++fits;
            }
        }
        if (len <= n || fits == len)
            line = {len, lf + 1};
        else
            line = breakAtBlank(text, pos, std::max(fits, n));
    } else {
        const size_t rest = text.size() - pos;
        line = rest <= n ? PRINT_LINE{rest, text.size()} : breakAtBlank(text, pos, n);
    }
    if (line.length > 0 && text[pos + line.length - 1] == U'\r') --line.length;
    return line;
}
