// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "common/text.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/html_text.h"
#include "message/qp.h"
#include "message/uu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string qp(std::string_view in, bool q = false) {
    std::string out;
    EXPECT_EQ(Qp_Decode(in, &out, q), 0u);
    return out;
}

std::string uu(std::string_view in) {
    std::string out;
    EXPECT_EQ(Uu_Decode(in, &out), 0u);
    return out;
}

// Every decoder gets its input in a buffer of exactly that size, so that
// AddressSanitizer sees a read of even one byte past it.
std::string exact(std::string_view s) {
    return std::string(s);
}

TEST(Base64, EncodesInLinesOf76WithoutATrailingBreak) {
    EXPECT_EQ(Base64_Encode(""), "");
    EXPECT_EQ(Base64_Encode("f"), "Zg==");
    EXPECT_EQ(Base64_Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64_Encode("foo"), "Zm9v");
    const std::string line = Base64_Encode(std::string(57, 'a'));
    EXPECT_EQ(line.size(), 76u);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    const std::string two = Base64_Encode(std::string(58, 'a'));
    EXPECT_EQ(two.size(), 76u + 2 + 4);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
}

TEST(Base64, DecodesIntoAFile) {
    const std::string dir = iwtest::MakeTempDir();
    FILES_WRITER w;
    ASSERT_EQ(Files_Begin(&w, dir + "/a.bin"), 0u);
    const std::string big(300000, 'z');
    ASSERT_EQ(Base64_DecodeToFile(Base64_Encode(big), &w), 0u);
    ASSERT_EQ(Files_Commit(&w), 0u);
    EXPECT_EQ(iwtest::ReadFile(dir + "/a.bin"), big);
}

TEST(QuotedPrintable, DecodesEscapesAndSoftBreaksAndKeepsWhatIsInvalid) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"caf=C3=A9", "caf\xC3\xA9"},
        {"lower =c3=a9", "lower \xC3\xA9"},
        {"soft=\r\nbreak", "softbreak"},
        {"bare=\nLF", "bare=\nLF"}, // not a soft break
        {"=ZZ", "=ZZ"},             // "=" and the next character stay
        {"=AZ!", "=AZ!"},           // "=", the valid digit and the next
        {"end=", "end="},           // a trailing "=" reads nothing beyond
        {"end=A", "end=A"},
        {"=\r", "=\r"},
        {std::string("cut\0here", 8), "cut"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qp(exact(c.in)), c.out) << c.in;
    EXPECT_EQ(qp("a_b=5F", true), "a b_");
    EXPECT_EQ(qp("a_b", false), "a_b");
}

TEST(Uuencode, DecodesLinesAndSurvivesDamagedOnes) {
    // "Cat" encoded: count 3, one group.
    EXPECT_EQ(uu("#0V%T\r\n`\r\n"), "Cat");
    EXPECT_EQ(uu("#0V%T\n \n"), "Cat");
    // A line that promises 45 bytes but holds 4 characters: the missing
    // characters count as spaces and the next line is found at its LF.
    const std::string damaged = uu(exact("M0V%T\r\n#0V%T\r\n`\r\n"));
    ASSERT_EQ(damaged.size(), 45u + 3u);
    EXPECT_EQ(damaged.substr(0, 3), "Cat");
    EXPECT_EQ(damaged.substr(45), "Cat");
    EXPECT_EQ(uu(exact("M")), std::string(45, '\0'));
    EXPECT_EQ(uu(""), "");
    EXPECT_EQ(uu("`\r\n#0V%T\r\n"), "");
}

TEST(HtmlToText, FollowsTheReductionRules) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"a&nbsp;b&NBSP c", "ab c"},
        {"&amp;&quot;&gt;&lt;&amp", "&\"><&"},
        {"&#65;&#66&#0;C", "ABC"},
        {"&#233;", "\xC3\xA9"},
        {"&#x41;", "&#x41;"},
        {"&#65601;", "A"}, // modulo 65536
        {"&#55296;", "\xEF\xBF\xBD"},
        {"one<BR>two<br>three<br/>four", "one\r\ntwo\r\nthreefour"},
        {"a<hr>b<HR size=1>c<hra>d", "a\r\n\r\nb\r\n\r\ncd"},
        {"<a href=\"http://x.example/\">site</a>", "\"http://x.example/\" site"},
        {"<A title=t HREF=\"u\">l</A>", "\"u\" l"},
        {"<b>bold</b> <unterminated", "bold "},
        {"a\n\n\n\nb", "a\n\nb"},
        {"a\n \n\t\n\nb", "a\n \nb"},
        {"\n\n\nstart", "\nstart"},
        {std::string("x\0y", 3), "x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MIME_HtmlToText(exact(c.in)), c.out) << c.in;
}

TEST(HtmlToText, WorksInPlaceAndBoundsItsOutput) {
    char buf[64] = "x&#233;&#233;<br>y";
    const size_t n = MIME_HtmlToText(buf, sizeof buf, buf, std::strlen(buf));
    EXPECT_EQ(std::string(buf, n), "x\xC3\xA9\xC3\xA9\r\ny");
    char small[4];
    EXPECT_EQ(MIME_HtmlToText(small, sizeof small, "x&#233;&#233;", 13), 3u);
    EXPECT_STREQ(small, "x\xC3\xA9");
    char tiny[3];
    EXPECT_EQ(MIME_HtmlToText(tiny, sizeof tiny, "x&#233;", 7), 1u); // never half a character
}

// The fixed tables must agree with the published code pages, which iconv
// knows independently.
TEST(Charset, TablesAgreeWithTheCodePages) {
    for (int b = 0xC0; b <= 0xFF; ++b) {
        const std::string koi(1, static_cast<char>(b));
        std::string w = koi;
        Charset_Koi8rTo1251(w);
        // KOI8-R letters read through the table equal iconv's own KOI8-R.
        EXPECT_EQ(Charset_ToUtf8(koi, "koi8-r"), Charset_ToUtf8(w, "windows-1251")) << b;
        std::string back = w;
        Charset_1251ToKoi8r(back);
        EXPECT_EQ(back, koi) << b;
    }
    for (int b = 0xA0; b <= 0xBF; ++b) {
        const std::string latin2(1, static_cast<char>(b));
        std::string w = latin2;
        Charset_Iso88592To1250(w);
        // iconv reads ISO-8859-2 directly; the table plus Windows-1250 must
        // give the same character.
        EXPECT_EQ(Charset_ToUtf8(w, "windows-1250"), Charset_ToUtf8(latin2, "ISO_8859-2:1987"))
            << b;
    }
}

} // namespace
