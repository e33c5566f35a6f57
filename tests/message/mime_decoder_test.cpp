// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "common/text.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/mime_decoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

// Messages are written with "\n" here and given to the decoder as the POP3
// session delivers them: CR LF line ends after the rest of the "+OK" line.
MimeMessagePtr open(std::string_view lfText) {
    const std::string text = MIME_ToCrLf("+OK 100 octets\n" + std::string(lfText));
    return MimeMessagePtr(MIME_Open(text.data(), text.size()));
}

std::string text(const MimeMessage* m, uint32_t selector) {
    std::string out;
    const uint32_t rc = MIME_GetText(m, selector, &out);
    return rc == 0 ? out : "<" + std::string(Status_Name(rc)) + ">";
}

struct Att {
    std::string name;
    std::string data;
};

std::vector<Att> attachments(const MimeMessage* m) {
    std::vector<Att> out;
    for (MimePart* p = MIME_NextAttachment(m, nullptr); p; p = MIME_NextAttachment(m, p)) {
        Att a{MIME_GetAttachmentName(p), ""};
        if (MIME_DecodeAttachment(p, &a.data) == ERR_ENCODING) {
            a.data = std::string(MIME_GetRaw(m, nullptr) + p->bodyOffset, p->bodyLength);
        }
        out.push_back(a);
    }
    return out;
}

// The header and empty line of a multipart/mixed part.
std::string mixedHeader(const std::string& boundary) {
    return "Content-Type: multipart/mixed; boundary=" + boundary + "\n\n";
}

uint32_t flags(const MimeMessage* m) {
    uint32_t f = 0;
    EXPECT_EQ(MIME_GetContentFlags(m, &f), 0u);
    return f;
}

TEST(MimeOpen, PlainMessageIsOneTextPartEndingAtTheEndMark) {
    auto m = open("From: a@example.org\nSubject: hi\n\nHello\nworld\n.\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->desc.kind, KIND_NONE);
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "Hello\r\nworld");
    EXPECT_EQ(text(m.get(), KIND_NONE), "Hello\r\nworld");
    EXPECT_EQ(flags(m.get()), 0u);
}

// A message itself (as saved, or unstuffed for the viewer) has no end mark:
// a "." line in it is its own text, with or without a Content-Type.
TEST(MimeOpen, ADotLineInsideTheMessageItselfIsText) {
    for (const char* header : {"Subject: hi\n", "Content-Type: text/plain\n"}) {
        SCOPED_TRACE(header);
        const std::string t = MIME_ToCrLf(std::string(header) + "\nabove\n.\nbelow\n");
        MimeMessagePtr m(MIME_Open(t.data(), t.size()));
        ASSERT_TRUE(m);
        EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "above\r\n.\r\nbelow\r\n");
    }
}

TEST(MimeOpen, UuencodedBlockInAPlainBodyBecomesAnAttachment) {
    auto m = open("Subject: uu\n\nSee the file.\nbegin 644 cat.txt\n#0V%T\n`\nend\n"
                  "Trailer\nbegin 600 two.bin\n\"0V$\n`\nend\n.\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "See the file.");
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 2u);
    // Later blocks first: each is put at the head of the list.
    EXPECT_EQ(a[0].name, "two.bin");
    EXPECT_EQ(a[0].data, "Ca");
    EXPECT_EQ(a[1].name, "cat.txt");
    EXPECT_EQ(a[1].data, "Cat");
    EXPECT_EQ(flags(m.get()), MIME_HAS_ATTACHMENTS);
}

TEST(MimeOpen, UuencodeBlocksNeedAModeANameAndAnEnd) {
    for (const char* body : {"x\nbegin cat.txt\n#0V%T\nend\n", "x\nbegin 644\n#0V%T\nend\n",
                             "x\nbegin 644 cat.txt\n#0V%T\n", "begin 644 cat.txt\n#0V%T\nend\n"}) {
        auto m = open(std::string("Subject: uu\n\n") + body);
        ASSERT_TRUE(m);
        EXPECT_EQ(MIME_NextAttachment(m.get(), nullptr), nullptr) << body;
    }
}

const char* kAlternativeWithAttachment = R"(MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="outer"

preamble
--outer
Content-Type: multipart/alternative; boundary=inner

--inner
Content-Type: text/plain; charset=utf-8

plain caf=C3=A9
--inner
Content-Type: text/html; charset=utf-8
Content-Transfer-Encoding: quoted-printable

<p>html caf=C3=A9</p>
--inner--

--outer
Content-Type: application/pdf; name="doc.pdf"
Content-Transfer-Encoding: base64

JVBERi0=
--outer--
epilogue
.
)";

// The most common structure of all: the attachment after a nested
// alternative must be listed once, with its own body only.
TEST(MimeMultipart, NestedClosingDelimiterEndsItsMultipartOnly) {
    auto m = open(kAlternativeWithAttachment);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->desc.kind, KIND_MULTIPART);
    EXPECT_STREQ(m->desc.contentType, "multipart/mixed");
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].name, "doc.pdf");
    EXPECT_EQ(a[0].data, "%PDF-");
    EXPECT_EQ(flags(m.get()), MIME_HAS_HTML | MIME_HAS_PLAIN | MIME_HAS_ATTACHMENTS);
    // The plain part has no transfer encoding, so "=C3=A9" stays as written.
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "plain caf=C3=A9");
    EXPECT_EQ(text(m.get(), SELECT_PREFER_HTML), "html caf\xC3\xA9");
    EXPECT_EQ(text(m.get(), KIND_TEXT_HTML), "<p>html caf\xC3\xA9</p>");
    EXPECT_EQ(text(m.get(), KIND_ATTACHMENT), "<ERR_NOT_FOUND>");
}

TEST(MimeMultipart, OnlyHtmlServesBothPreferences) {
    auto m = open("Content-Type: multipart/alternative; boundary=b\n\n--b\n"
                  "Content-Type: text/html\n\n<b>x</b>&amp;y<br>z\n--b--\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "x&y\r\nz");
    EXPECT_EQ(text(m.get(), SELECT_PREFER_HTML), "x&y\r\nz");
    EXPECT_EQ(text(m.get(), KIND_TEXT_HTML), "<b>x</b>&amp;y<br>z");
    MIME_DESCRIPTOR d{};
    ASSERT_EQ(MIME_GetPartInfo(m.get(), SELECT_PREFER_PLAIN, &d), 0u);
    EXPECT_EQ(d.kind, KIND_TEXT_HTML);
}

TEST(MimeMultipart, OnlyAttachmentsFallBackToTheWholeBody) {
    auto m =
        open("Content-Type: multipart/mixed; boundary=b\n\n--b\n"
             "Content-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBORw==\n--b--\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "<ERR_NOT_FOUND>");
    EXPECT_EQ(text(m.get(), SELECT_PREFER_HTML), "<ERR_NOT_FOUND>");
    EXPECT_EQ(m->textParts->desc.kind, KIND_MULTIPART);
    EXPECT_NE(m->textParts->bodyLength, 0u);
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].name, "ath00001.dat");
    EXPECT_EQ(a[0].data, "\x89PNG");
}

TEST(MimeMultipart, PartDetailsFollowTheirHeaders) {
    auto m = open(R"(Content-Type: multipart/mixed; charset=koi8-r; boundary="b b"

--b b
Content-Type: text/plain

)"
                  "\xD2\xC9"
                  R"(
--b b
Content-Type: text/plain; name=notes.txt

not a text part
--b b
Content-Type: message/rfc822

From: x@example.org
Subject: =?utf-8?q?Enclosed_subject?=

inner body
--b b
Content-Type: application/octet-stream
Content-Disposition: attachment; filename="../../.config/autostart/x.desktop"

evil
--b b
Content-Type: text/plain

--b b--
)");
    ASSERT_TRUE(m);
    // No charset of its own: the message's KOI8-R applies.
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "\xD1\x80\xD0\xB8");
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].name, "notes.txt");
    EXPECT_EQ(a[1].name, "Enclosed subject.eml");
    // The name is listed as the mail gives it; Files_SafeName is for paths.
    EXPECT_EQ(a[2].name, "../../.config/autostart/x.desktop");
    // The last part's body is empty: the blank line directly meets the delimiter.
    int count = 0;
    for (const MimePart* p = m->textParts; p; p = p->next) {
        if (++count == 2) {
            EXPECT_EQ(p->bodyLength, 0u);
        }
    }
    EXPECT_EQ(count, 2);
}

TEST(MimeMultipart, NamesOutsideAsciiAreDecoded) {
    auto m = open(mixedHeader("b") + R"(--b
Content-Type: text/plain

t
--b
Content-Type: application/pdf;
 name*=utf-8'de'%C3%9Cbersicht%20%22v2%22.pdf

x
--b
Content-Type: application/octet-stream
Content-Disposition: attachment; filename*0*=iso-8859-1''Gr%FC;
 filename*1="sse.txt"

y
--b
Content-Type: application/octet-stream; xname="no"
Content-Disposition: attachment; filename="=?utf-8?q?K=C3=B6ln.txt?="

z
--b--
)");
    ASSERT_TRUE(m);
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].name, "\xC3\x9C"
                         "bersicht \"v2\".pdf");
    EXPECT_EQ(a[1].name, "Gr\xC3\xBCsse.txt");
    // "xname=" is no "name=": the disposition's encoded words are read.
    EXPECT_EQ(a[2].name, "K\xC3\xB6ln.txt");
}

TEST(MimeMultipart, NamelessMessagePartWithoutSubjectIsNumbered) {
    auto m = open("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
                  "t\n--b\nContent-Type: application/zip\n\nz\n--b\nContent-Type: "
                  "message/rfc822\n\nFrom: a\n\nno subject\n--b--\n");
    ASSERT_TRUE(m);
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].name, "ath00001.dat");
    EXPECT_EQ(a[1].name, "ath00002.eml");
    // The made-up name is kept.
    EXPECT_EQ(MIME_GetAttachmentName(MIME_NextAttachment(m.get(), nullptr)), "ath00001.dat");
}

// Crash-free, UTF-8 handling of every broken structure is the mime fuzz
// target's; here the body of a boundary that never occurs.
TEST(MimeMultipart, ABoundaryThatNeverOccursLeavesTheWholeBody) {
    auto m = open("Content-Type: multipart/mixed; boundary=zz\n\nbody only\n");
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "<ERR_NOT_FOUND>");
    EXPECT_EQ(text(m.get(), KIND_MULTIPART), "body only\r\n");
}

// Structures a quadratic or exponential walk would never finish: uuencode
// begin lines without an end, a part declaring its parent's boundary again
// (every later delimiter walked twice per level: 2^n passes for n parts),
// and nesting deep or wide.
TEST(MimeMultipart, HostileStructuresParseInBoundedTime) {
    std::string begins = "Subject: uu\n\nx\n", repeated = mixedHeader("b"),
                deep = mixedHeader("b0"), wide = mixedHeader("w");
    for (int i = 0; i < 200000; ++i)
        begins += "begin 644 f\n";
    for (int i = 0; i < 2000; ++i)
        repeated += "--b\nContent-Type: multipart/mixed; boundary=b\n\nx\n";
    repeated += "--b--\n";
    for (int i = 1; i < 5000; ++i)
        deep += "--b" + std::to_string(i - 1) + "\n" + mixedHeader("b" + std::to_string(i));
    for (int i = 0; i < 30000; ++i)
        wide += "--w\n" + mixedHeader("n" + std::to_string(i));
    for (const std::string& msg : {begins, repeated, deep, wide}) {
        const auto start = std::chrono::steady_clock::now();
        auto m = open(msg);
        ASSERT_TRUE(m);
        EXPECT_EQ(MIME_NextAttachment(m.get(), nullptr), nullptr);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
}

TEST(MimeMultipart, WellFormedMessageWithManyPartsKeepsThemAll) {
    std::string msg = mixedHeader("b");
    for (int i = 0; i < 500; ++i)
        msg += "--b\nContent-Type: application/octet-stream; name=f" + std::to_string(i) +
               "\nContent-Transfer-Encoding: base64\n\n" + Base64_Encode(std::to_string(i)) + "\n";
    msg += "--b--\n";
    auto m = open(msg);
    const auto a = attachments(m.get());
    ASSERT_EQ(a.size(), 500u);
    EXPECT_EQ(a[499].name, "f499");
    EXPECT_EQ(a[499].data, "499");
}

TEST(MimeHeaders, EncodedWordsAreDecodedToUtf8) {
    const struct {
        std::string value;
        std::string decoded;
    } cases[] = {
        {"=?utf-8?q?caf=C3=A9?= =?utf-8?b?w6k=?=", "caf\xC3\xA9\xC3\xA9"},
        {"Hello =?utf-8?q?w=C3=B6rld?=", "Hello w\xC3\xB6rld"},
        {"=?utf-8?q?a?= and =?utf-8?q?b?=", "a and b"},
        {"=?iso-8859-1?q?d=E9j=E0_vu?=", "d\xC3\xA9j\xC3\xA0 vu"},
        {"=?koi8-r?b?8sk=?=", "\xD0\xA0\xD0\xB8"},
        {"=?utf-8?x?abc?= =?utf-8?q?", "=?utf-8?x?abc?= =?utf-8?q?"},
        {"=?utf-8*en?Q?lang?=", "lang"},
        {"  folded\n   value  ", "folded value"},
        {"=?utf-8?q?one?=\n =?utf-8?q?two?=", "onetwo"},
        {"raw caf\xE9", "raw caf\xC3\xA9"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string msg = MIME_ToCrLf("\nSubject: " + c.value + "\nX: y\n\nbody\n");
        std::string v;
        ASSERT_EQ(MIME_GetHeaderFromText(msg, "\nSubject:", &v), 0u) << c.value;
        EXPECT_EQ(v, c.decoded) << c.value;
    }
}

TEST(MimeHeaders, LookupsStayInTheHeaderBlock) {
    const std::string msg =
        MIME_ToCrLf("\nSubject: real\nX-Long: a\n\tb\n\nFrom: body@example.org\n");
    std::string v;
    EXPECT_EQ(MIME_GetHeaderFromText(msg, "\nFrom:", &v), ERR_NOT_FOUND);
    EXPECT_EQ(MIME_GetHeaderFromText(msg, "", &v), ERR_BADARG);
    EXPECT_TRUE(MIME_GetUnfoldedHeader(msg, "\nx-long:", &v));
    EXPECT_EQ(v, "a b");
    EXPECT_FALSE(MIME_GetUnfoldedHeader(msg, "\nFrom:", &v));
    EXPECT_TRUE(MIME_GetUnfoldedHeader(msg, "\nSubject:", &v, 2));
    EXPECT_EQ(v, "re");
    EXPECT_EQ(MIME_GetHeaderFromText(msg, "\nSubject:", &v, 3), 0u);
    EXPECT_EQ(v, "rea");
}

TEST(MimeAttachments, SavedFilesHoldTheDecodedBytesOrNothing) {
    auto m = open(kAlternativeWithAttachment);
    ASSERT_TRUE(m);
    MimePart* pdf = MIME_NextAttachment(m.get(), nullptr);
    ASSERT_TRUE(pdf);
    const std::string dir = iwtest::MakeTempDir();
    ASSERT_EQ(MIME_SaveAttachment(pdf, dir + "/doc.pdf"), 0u);
    EXPECT_EQ(iwtest::ReadFile(dir + "/doc.pdf"), "%PDF-");
    // Every encoding reports a file it could not create.
    EXPECT_EQ(MIME_SaveAttachment(pdf, dir + "/no/such/folder/doc.pdf"), ERR_CREATE);

    auto raw = open("Content-Type: multipart/mixed; boundary=b\n\n--b\n"
                    "Content-Type: application/octet-stream\n\nraw bytes\n--b--\n");
    MimePart* p = MIME_NextAttachment(raw.get(), nullptr);
    ASSERT_TRUE(p);
    std::string data;
    EXPECT_EQ(MIME_DecodeAttachment(p, &data), ERR_ENCODING);
    ASSERT_EQ(MIME_SaveAttachment(p, dir + "/raw.bin"), 0u);
    EXPECT_EQ(iwtest::ReadFile(dir + "/raw.bin"), "raw bytes");
    EXPECT_EQ(MIME_SaveAttachment(p, dir + "/none/raw.bin"), ERR_CREATE);
}

TEST(MimeText, BuffersAreCutOnACharacterBoundary) {
    auto m = open("Content-Type: text/plain; charset=utf-8\n\n\xC3\xA9\xC3\xA9\n");
    std::string t;
    ASSERT_EQ(MIME_GetText(m.get(), SELECT_PREFER_PLAIN, &t, 3), 0u);
    EXPECT_EQ(t, "\xC3\xA9");
}

TEST(MimeText, SingleBase64PartAtTopLevel) {
    auto m = open("Content-Transfer-Encoding: base64\nContent-Type: text/plain; "
                  "charset=\"windows-1251\"\n\n" +
                  Base64_Encode("\xEF\xF0\xE8") + "\n.\n");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->desc.charset, CHARSET_WINDOWS_1251);
    EXPECT_EQ(m->desc.encoding, ENC_BASE64);
    EXPECT_EQ(text(m.get(), SELECT_PREFER_PLAIN), "\xD0\xBF\xD1\x80\xD0\xB8");
}

} // namespace
