// SPDX-License-Identifier: GPL-3.0-or-later
// The line rule as written, step by step: measure the whole line, then drop
// one character and measure again until it fits. Quadratic on a long line;
// the fast rule must give exactly its lines.
#pragma once

#include "ui/print_wrap.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace iwtest {

using PrintMeasure = std::function<double(std::u32string_view)>;

// Width of a whole piece from the same pen advances the fast rule uses.
inline PrintMeasure MeasureByAdvances(PrintAdvance advance) {
    return [advance = std::move(advance)](std::u32string_view s) {
        double x = 0;
        for (char32_t c : s)
            x = std::max(x, advance(c, x));
        return x;
    };
}

inline PRINT_LINE LiteralNextLine(std::u32string_view text, size_t pos, double pageWidth,
                                  size_t charsPerLine, const PrintMeasure& measure) {
    const size_t n = std::max<size_t>(charsPerLine, 1);
    auto blankRule = [&](size_t kept) {
        for (size_t p = kept - 1; p >= 2; --p)
            if (text[pos + p] == U' ' || text[pos + p] == U'\t') return PRINT_LINE{p, pos + p + 1};
        return PRINT_LINE{kept, pos + kept};
    };
    PRINT_LINE line;
    const size_t lf = text.find(U'\n', pos);
    if (lf != std::u32string_view::npos) {
        const std::u32string_view candidate = text.substr(pos, lf - pos);
        size_t len = candidate.size();
        double width = measure(candidate);
        bool dropped = false;
        while (width >= pageWidth && len > n) {
            --len;
            dropped = true;
            width = measure(candidate.substr(0, len));
        }
        line = dropped ? blankRule(len) : PRINT_LINE{candidate.size(), lf + 1};
    } else {
        const size_t rest = text.size() - pos;
        line = rest <= n ? PRINT_LINE{rest, text.size()} : blankRule(n);
    }
    if (line.length > 0 && text[pos + line.length - 1] == U'\r') --line.length;
    return line;
}

} // namespace iwtest
