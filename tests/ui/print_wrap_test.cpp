// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/print_wrap.h"

#include "print_wrap_reference.h"

#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using iwtest::LiteralNextLine;
using iwtest::MeasureByAdvances;

// One unit per character, a wide "W", tabs to stops of 4 units.
double units(char32_t c, double x) {
    if (c == U'\t') return (int(x) / 4 + 1) * 4;
    if (c == U'\r') return x;
    return x + (c == U'W' ? 3 : 1);
}

std::u32string u32(std::string_view s) {
    return std::u32string(s.begin(), s.end());
}

std::vector<std::string> printedLines(std::string_view text, double width, size_t perLine) {
    const std::u32string t = u32(text);
    std::vector<std::string> out;
    size_t pos = 0;
    size_t lf = t.find(U'\n');
    do {
        lf = PrintWrap_LineFeed(t, pos, lf);
        const PRINT_LINE line = PrintWrap_NextLine(t, pos, lf, width, perLine, units);
        out.emplace_back(t.begin() + pos, t.begin() + pos + line.length);
        pos = line.next;
    } while (pos < t.size());
    return out;
}

using Lines = std::vector<std::string>;

TEST(PrintWrap, CutsWhereTheLineFirstFitsAndBreaksOnlyAtALaterBlank) {
    struct Case {
        const char* what;
        std::string_view text;
        double width;
        size_t perLine;
        Lines lines;
    };
    const Case cases[] = {
        {"no blank: hard cut at the widest prefix narrower than the page",
         "abcdefghijklmnop\n",
         10,
         5,
         {"abcdefghi", "jklmnop"}},
        {"blank first: hard cut", " bcdefghijklm\n", 10, 5, {" bcdefghi", "jklm"}},
        {"blank second: hard cut", "a cdefghijklm\n", 10, 5, {"a cdefghi", "jklm"}},
        {"blank third: break there, the blank is not printed",
         "ab cdefghijk\n",
         10,
         5,
         {"ab", "cdefghijk"}},
        {"the last blank of the kept part wins", "ab cd ef ghij\n", 10, 5, {"ab cd ef", "ghij"}},
        {"a tab breaks like a space", "abc\tdefghijkl\n", 10, 5, {"abc", "defghijkl"}},
        {"never shorter than the estimate, however wide", "WWWWWWWW\n", 10, 5, {"WWWWW", "WWW"}},
        {"a line not longer than the estimate is never measured",
         "WWWWWWWW\n",
         10,
         8,
         {"WWWWWWWW"}},
        {"a line exactly as wide as the page is cut", "abcdefghij\n", 10, 5, {"abcdefghi", "j"}},
        {"tabs count up to their stop", "a\tb\tc\tdefg\n", 10, 3, {"a\tb", "c\tdefg"}},
        {"last line: the estimate, without measuring",
         "WWWWWWWWWWWWWWW",
         10,
         6,
         {"WWWWWW", "WWWWWW", "WWW"}},
        {"last line: the blank rule applies", "abcd efgh ij", 10, 6, {"abcd", "efgh", "ij"}},
        {"CR LF ends print no carriage return",
         "one\r\ntwo\r\nend\r",
         10,
         5,
         {"one", "two", "end"}},
        {"empty text is one empty line", "", 10, 5, {""}},
        {"an estimate of 0 still moves on", "abc", 10, 0, {"a", "b", "c"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(printedLines(c.text, c.width, c.perLine), c.lines) << c.what;
}

// Random texts over an alphabet of narrow, wide, zero-width and blank
// characters, line feeds and CR LF, on random pages: the fast rule gives the
// lines of the rule as written, line for line.
TEST(PrintWrap, GivesTheLinesOfTheRuleAsWritten) {
    std::mt19937 rng(20261208);
    const std::u32string alphabet = U"aaaaiiiiWWm     \t\r\n\n\u00e9\u4e2d\x01";
    for (int round = 0; round < 3000; ++round) {
        std::uniform_int_distribution<size_t> lenDist(0, round < 100 ? 12 : 240);
        std::u32string text(lenDist(rng), U'a');
        for (char32_t& c : text)
            c = alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(rng)];
        // Whole widths, so that lines as wide as the page are common.
        const double width = std::uniform_int_distribution<int>(0, 40)(rng);
        const size_t perLine = std::uniform_int_distribution<size_t>(0, 30)(rng);
        const double tab = std::uniform_int_distribution<int>(1, 9)(rng);
        // Advances vary per character and may even point back; both rules
        // see the pen clamped the same way.
        const PrintAdvance advance = [tab](char32_t c, double x) {
            switch (c) {
            case U'\t':
                return (std::floor(x / tab) + 1) * tab;
            case U'i':
                return x + 0.4;
            case U'W':
                return x + 2.7;
            case U'\r':
            case U'\x01':
                return x;
            case U'\u4e2d':
                return x + 2;
            case U'm':
                return x - 0.5;
            default:
                return x + 1;
            }
        };
        const iwtest::PrintMeasure measure = MeasureByAdvances(advance);
        size_t pos = 0;
        size_t lf = text.find(U'\n');
        do {
            lf = PrintWrap_LineFeed(text, pos, lf);
            const PRINT_LINE fast = PrintWrap_NextLine(text, pos, lf, width, perLine, advance);
            const PRINT_LINE slow = LiteralNextLine(text, pos, width, perLine, measure);
            ASSERT_EQ(fast.length, slow.length) << "round " << round << " at " << pos;
            ASSERT_EQ(fast.next, slow.next) << "round " << round << " at " << pos;
            ASSERT_TRUE(fast.next > pos || text.empty());
            pos = fast.next;
        } while (pos < text.size());
    }
}

// A long single line costs about one advance per printed character, not one
// measure of the whole rest of the line per printed line.
TEST(PrintWrap, LongLineIsMeasuredOnlyUpToThePageEdge) {
    const std::u32string text = std::u32string(200000, U'x') + U"\n";
    size_t calls = 0;
    const PrintAdvance counting = [&calls](char32_t, double x) {
        ++calls;
        return x + 1;
    };
    size_t pos = 0, lines = 0;
    size_t lf = text.find(U'\n');
    while (pos < text.size()) {
        lf = PrintWrap_LineFeed(text, pos, lf);
        pos = PrintWrap_NextLine(text, pos, lf, 80, 70, counting).next;
        ++lines;
    }
    EXPECT_EQ(lines, 200000u / 79 + 1);
    EXPECT_LE(calls, 2 * text.size());
}

} // namespace
