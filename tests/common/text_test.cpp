// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(Text, CutUtf8NeverSplitsASequence) {
    struct Case {
        std::string in;
        size_t max;
        std::string out;
    };
    const Case cases[] = {
        {"abc", 3, "abc"},
        {"abc", 2, "ab"},
        {"abc", 0, ""},
        {"a\xE2\x82\xAC", 3, "a"}, // a€: the euro sign does not fit
        {"\xF0\x9F\x98\x80x", 3, ""},
        {"\xF0\x9F\x98\x80x", 4, "\xF0\x9F\x98\x80"},
        {"a\xFF\xFE"s + "b", 2, "a\xFF"}, // invalid bytes are one character each
        {"a\xE2\x82"s + "b", 2, "a\xE2"}, // so is a broken sequence
        {"\xC0\x80"s + "b", 1, "\xC0"},   // and an overlong one
        {"a\0\xC3\xA9"s, 3, "a\0"s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Text_CutUtf8(c.in, c.max), c.out) << testing::PrintToString(c.in) << " " << c.max;

    // Every cut of a valid text is valid and the longest one that fits.
    const std::string mixed = "x\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80y\xC3\x96";
    for (size_t max = 0; max <= mixed.size() + 1; ++max) {
        const std::string_view cut = Text_CutUtf8(mixed, max);
        EXPECT_LE(cut.size(), max);
        EXPECT_TRUE(mixed.starts_with(cut));
        EXPECT_TRUE(Text_IsValidUtf8(cut)) << max;
        size_t next = cut.size();
        if (next < mixed.size()) {
            Text_NextUtf8(mixed, &next);
            EXPECT_GT(next, max) << "the next character would have fitted";
        }
    }
}

TEST(Text, Utf8ValidityAndDecoding) {
    const std::string valid[] = {"",
                                 "\0"s,
                                 "\xC3\xA9",
                                 "\xE2\x82\xAC",
                                 "\xF0\x9F\x98\x80",
                                 "\xF4\x8F\xBF\xBF", // U+10FFFF
                                 "\xED\x9F\xBF",     // U+D7FF and U+E000 around the surrogates
                                 "\xEE\x80\x80",
                                 "seven b\xF0\x9F\x98\x80 then eight bytes\xC3\xA9"};
    struct Bad {
        std::string bytes;
        const char* why;
    };
    const Bad invalid[] = {
        {"\xC0\x80", "overlong NUL"},
        {"\xC1\xBF", "overlong two bytes"},
        {"\xE0\x9F\xBF", "overlong three bytes"},
        {"\xF0\x8F\xBF\xBF", "overlong four bytes"},
        {"\xED\xA0\x80", "U+D800"},
        {"\xED\xBF\xBF", "U+DFFF"},
        {"\xF4\x90\x80\x80", "beyond U+10FFFF"},
        {"\xF5\x80\x80\x80", "lead byte F5"},
        {"\xFF", "byte FF"},
        {"\x80", "lone continuation"},
        {"\xE2\x82", "cut short at the end"},
        {"\xE2\x82"s + "a", "cut short before ASCII"},
        {"plain ascii text\xC0\x80", "overlong after a long ASCII run"},
        {"0123456\xE2\x82\xAC"
         "abcdefgh\xE2\x82",
         "cut short after a word of ASCII"},
    };
    for (const auto& s : valid)
        EXPECT_TRUE(Text_IsValidUtf8(s)) << testing::PrintToString(s);
    for (const auto& c : invalid)
        EXPECT_FALSE(Text_IsValidUtf8(c.bytes)) << c.why;

    const std::string in = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF\xC3\x41\xED\xA0\x80";
    const std::vector<char32_t> want = {U'a', 0xE9, 0x20AC, 0x1F600, 0xFF,
                                        0xC3, U'A', 0xED,   0xA0,    0x80};
    std::vector<char32_t> got;
    for (size_t pos = 0; pos < in.size();)
        got.push_back(Text_NextUtf8(in, &pos));
    EXPECT_EQ(got, want);
}

TEST(Text, HexOfEveryByteAndItsRefusals) {
    std::string all, back;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    ASSERT_TRUE(Text_FromHex(Text_ToHex(all), &back));
    EXPECT_EQ(back, all);
    EXPECT_EQ(Text_ToHex("\xff\nA"), "ff0a41");
    for (const char* bad : {"", "a", "0g", "abc"})
        EXPECT_FALSE(Text_FromHex(bad, &back)) << bad;
}

TEST(Text, FoldCompareAndTrimTouchAsciiOnly) {
    EXPECT_EQ(Text_FoldAscii("InBox-\xC3\x84 Z@[`"), "inbox-\xC3\x84 z@[`");
    struct Case {
        std::string a, b;
        int sign;
    };
    const Case cases[] = {
        {"inbox", "INBOX", 0},
        {"", "", 0},
        {"a", "B", -1},
        {"B", "a", 1},
        {"_", "A", -1}, // '_' sorts before letters once folded
        {"ab", "abc", -1},
        {"abc", "AB", 1},
        {"\xC3\x84", "\xC3\xA4", -1}, // Ä and ä stay different
        {"\x80", "z", 1},             // bytes compare unsigned
        {"a\0b"s, "A\0B"s, 0},
        {"a\0b"s, "a", 1},
    };
    for (const auto& c : cases) {
        const int r = Text_CompareNoCase(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << testing::PrintToString(c.a) << " " << c.b;
        EXPECT_EQ(Text_EqualsNoCase(c.a, c.b), c.sign == 0) << testing::PrintToString(c.a);
    }
    EXPECT_EQ(Text_TrimBlanks(" \t a b \t"), "a b");
    EXPECT_EQ(Text_TrimBlanks(" \t "), "");
    EXPECT_EQ(Text_TrimBlanks("\na\r"), "\na\r");
}

} // namespace
