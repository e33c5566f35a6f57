// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "common/status.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/mime_composer.h"
#include "message/qp.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

struct Composed {
    MimeMessage* m = MIME_Create();
    ~Composed() { MIME_Destroy(m); }
};

std::string write(const MimeMessage* m) {
    std::string out;
    EXPECT_EQ(MIME_Write(m,
                         [&](std::string_view t) {
                             out.append(t);
                             return 0u;
                         }),
              0u);
    return out;
}

// The composed text read back by the decoder (with the header lines that
// the SMTP client puts before it).
MimeMessagePtr reopen(const std::string& body) {
    const std::string text = "+OK\r\nSubject: t\r\n" + body;
    return MimeMessagePtr(MIME_Open(text.data(), text.size()));
}

MIME_DESCRIPTOR charsetDesc(uint32_t code, const char* name) {
    MIME_DESCRIPTOR d{};
    d.charset = code;
    std::snprintf(d.charsetName, sizeof d.charsetName, "%s", name);
    return d;
}

bool linesWithin998(const std::string& s) {
    size_t start = 0;
    for (size_t nl; (nl = s.find("\r\n", start)) != std::string::npos; start = nl + 2)
        if (nl - start > 998) return false;
    return s.size() - start <= 998;
}

TEST(MimeCompose, TextPartDeclaresWhatTheBytesAre) {
    const std::string cyr = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"; // "Привет"
    const struct {
        const char* label;
        std::string text;
        MIME_DESCRIPTOR desc;
        std::string expectHead;
        std::string expectBody;
    } cases[] = {
        {"ascii, new message",
         "hi\n",
         {},
         "Content-Type: text/plain;\r\nContent-Transfer-Encoding: 8bit\r\n",
         "hi\r\n"},
        {"ascii with the quoted charset", "hi", charsetDesc(CHARSET_WINDOWS_1251, "windows-1251"),
         "Content-Type: text/plain;\r\n\tcharset=\"windows-1251\"\r\n", "hi\r\n"},
        {"utf-8 text of a new message", cyr + "\r\n", {}, "\tcharset=\"utf-8\"\r\n", cyr + "\r\n"},
        {"utf-8 text quoting a windows-1251 message", cyr,
         charsetDesc(CHARSET_WINDOWS_1251, "windows-1251"), "\tcharset=\"utf-8\"\r\n",
         cyr + "\r\n"},
        {"utf-8 text declared utf-8", cyr, charsetDesc(CHARSET_UTF_8, "utf-8"),
         "\tcharset=\"utf-8\"\r\n", cyr + "\r\n"},
        {"koi8-r reply", cyr + "!", charsetDesc(CHARSET_KOI8_R, "koi8-r"),
         "\tcharset=\"koi8-r\"\r\n", "\xF0\xD2\xC9\xD7\xC5\xD4!\r\n"},
        {"koi8-r reply with a character KOI8-R lacks", cyr + "\xE2\x82\xAC",
         charsetDesc(CHARSET_KOI8_R, "koi8-r"), "\tcharset=\"utf-8\"\r\n",
         cyr + "\xE2\x82\xAC\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Composed m;
        ASSERT_EQ(MIME_SetText(m.m, c.text, &c.desc), 0u);
        const std::string out = write(m.m);
        EXPECT_NE(out.find(c.expectHead), std::string::npos) << out;
        EXPECT_EQ(out.find("multipart"), std::string::npos);
        EXPECT_EQ(out.substr(out.find("\r\n\r\n") + 4), c.expectBody);
    }
}

// Dot lines arriving as typed (the SMTP client stuffs them, not the
// composer) are the real server's test.
TEST(MimeCompose, OverlongLinesGoOutQuotedPrintableAndDecodeToTheSameBytes) {
    Composed m;
    const std::string longLine = std::string(3000, 'x') + " =tail \t";
    const std::string text = "short\r\n" + longLine + "\r\nend \r\n";
    MIME_SetText(m.m, text, nullptr);
    const std::string out = write(m.m);
    EXPECT_TRUE(linesWithin998(out));
    EXPECT_NE(out.find("Content-Transfer-Encoding: quoted-printable"), std::string::npos);
    std::string decoded;
    Qp_Decode(out.substr(out.find("\r\n\r\n") + 4), &decoded);
    EXPECT_EQ(decoded, text);
}

TEST(MimeCompose, AttachmentsInReverseOrderWithTypesAndNames) {
    Composed m;
    const char* names[] = {"/tmp/a.JPG", "/home/u/b", "c.zip"};
    for (const char* n : names)
        ASSERT_EQ(MIME_AddAttachment(m.m, "data", 4, n, nullptr), 0u);
    MIME_SetText(m.m, "body", nullptr);
    const std::string out = write(m.m);
    const size_t c = out.find("Content-type: application/zip; name=\"c.zip\"");
    const size_t b = out.find("Content-type: application/octet-stream; name=\"b\"");
    const size_t a = out.find("Content-type: image/jpeg; name=\"a.JPG\"");
    ASSERT_NE(a, std::string::npos) << out;
    EXPECT_LT(c, b);
    EXPECT_LT(b, a);
    EXPECT_EQ(out.find("/tmp"), std::string::npos);

    auto parsed = reopen(out);
    ASSERT_TRUE(parsed);
    std::vector<std::string> got;
    for (MimePart* p = MIME_NextAttachment(parsed.get(), nullptr); p;
         p = MIME_NextAttachment(parsed.get(), p)) {
        std::string data;
        ASSERT_EQ(MIME_DecodeAttachment(p, &data), 0u);
        got.push_back(MIME_GetAttachmentName(p) + "=" + data);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"c.zip=data", "b=data", "a.JPG=data"}));
    std::string body;
    MIME_GetText(parsed.get(), KIND_TEXT_PLAIN, &body);
    EXPECT_EQ(body.substr(0, 4), "body");
}

TEST(MimeCompose, HostileAndNonAsciiFileNamesStayInsideTheirParameter) {
    Composed m;
    MIME_AddAttachmentData(m.m, "x", "a\"b\\c\r\nX-Evil: 1.txt", 1, nullptr);
    MIME_AddAttachmentData(m.m, "y", "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82 1.pdf", 2, nullptr);
    const std::string out = write(m.m);
    EXPECT_EQ(out.find("\r\nX-Evil"), std::string::npos);
    EXPECT_NE(out.find("filename*=utf-8''%D0%BE%D1%82%D1%87%D1%91%D1%82%201.pdf"),
              std::string::npos)
        << out;
    auto parsed = reopen(out);
    ASSERT_TRUE(parsed);
    MimePart* first = MIME_NextAttachment(parsed.get(), nullptr);
    ASSERT_TRUE(first);
    std::string data;
    MIME_DecodeAttachment(first, &data);
    EXPECT_EQ(data, "y");
}

TEST(MimeCompose, SinkFailureStopsTheWritingAndIsReturned) {
    Composed m;
    MIME_AddAttachmentData(m.m, std::string(100000, 'z'), "z.bin", 1, nullptr);
    int calls = 0;
    const uint32_t rc =
        MIME_Write(m.m, [&](std::string_view) { return ++calls == 3 ? 10054u : 0u; });
    EXPECT_EQ(rc, 10054u);
    EXPECT_EQ(calls, 3);
}

TEST(MimeCompose, ForwardedAttachmentsNeverReadLocalFiles) {
    const std::string secretDir = iwtest::MakeTempDir("fwd");
    const std::string secret = secretDir + "/id_rsa";
    iwtest::WriteFile(secret, "SECRET");
    const std::string src = "+OK\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                            "--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
                            "--b\r\nContent-Type: text/plain; name=\"" +
                            secret +
                            "\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\nseven bit body\r\n"
                            "--b\r\nContent-Type: application/octet-stream; name=\"" +
                            secret + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n\r\n--b--\r\n";
    MimeMessagePtr in(MIME_Open(src.data(), src.size()));
    ASSERT_TRUE(in);
    Composed m;
    unsigned index = 1;
    for (MimePart* p = MIME_NextAttachment(in.get(), nullptr); p;
         p = MIME_NextAttachment(in.get(), p))
        ASSERT_EQ(MIME_AddForwardedAttachment(m.m, p, index++, nullptr), 0u);
    const std::string out = write(m.m);
    EXPECT_EQ(out.find(Base64_Encode("SECRET")), std::string::npos);
    EXPECT_EQ(out.find(secretDir), std::string::npos);
    auto parsed = reopen(out);
    std::vector<std::string> got;
    for (MimePart* p = MIME_NextAttachment(parsed.get(), nullptr); p;
         p = MIME_NextAttachment(parsed.get(), p)) {
        std::string data;
        MIME_DecodeAttachment(p, &data);
        got.push_back(MIME_GetAttachmentName(p) + "=" + data);
    }
    // Newest first: the empty one, then the 7bit one.
    EXPECT_EQ(got, (std::vector<std::string>{"id_rsa=", "id_rsa=seven bit body"}));
}

TEST(MimeCompose, UnreadableOrEmptyLocalFileIsNotAttached) {
    Composed m;
    const std::string empty = iwtest::MakeTempDir("att") + "/empty";
    std::fclose(std::fopen(empty.c_str(), "w"));
    std::string why;
    EXPECT_EQ(MIME_AddAttachment(m.m, nullptr, 0, "/nonexistent/file", nullptr, &why),
              ERR_OPERATION);
    EXPECT_NE(why.find("/nonexistent/file"), std::string::npos);
    EXPECT_EQ(MIME_AddAttachment(m.m, nullptr, 0, empty, nullptr), ERR_OPERATION);
    EXPECT_EQ(MIME_HasAttachments(m.m), 0);
}

TEST(MimeComposeHeader, ValuesCannotAddLinesAndNonAsciiIsEncoded) {
    MIME_HEADER_FIELDS f;
    f.senderName = "J\xC3\xB6rg \"the\" M\xC3\xBCller";
    f.senderAddress = "j@example.org";
    f.replyTo = "r@example.org\r\nBcc: victim@example.org";
    f.to = "\"Doe, John\" <john@example.org>, \xC3\x89lise <e@example.org>";
    f.subject = "Gr\xC3\xBC\xC3\x9F"
                "e\nX-Injected: yes " +
                std::string(200, 'a');
    f.date = "Sun, 06 Dec 2026 12:00:00 +0100";
    f.messageId = "<1.2@example.org>";
    const std::string h = MIME_ComposeHeader(f);
    EXPECT_EQ(h.find("\r\nX-Injected"), std::string::npos);
    EXPECT_EQ(h.find("\r\nBcc"), std::string::npos);
    EXPECT_TRUE(linesWithin998(h));
    const std::string msg = "+OK\r\n" + h + "\r\nbody\r\n";
    auto value = [&](const char* field) {
        std::string v;
        MIME_GetHeaderFromText(msg, field, &v);
        return v;
    };
    EXPECT_EQ(value("\nSubject:"), "Gr\xC3\xBC\xC3\x9F"
                                   "e X-Injected: yes " +
                                       std::string(200, 'a'));
    EXPECT_EQ(value("\nFrom:"), "J\xC3\xB6rg \"the\" M\xC3\xBCller <j@example.org>");
    EXPECT_EQ(value("\nTo:"), "\"Doe, John\" <john@example.org>, \xC3\x89lise <e@example.org>");
    EXPECT_EQ(value("\nMessage-ID:"), "<1.2@example.org>");
    EXPECT_EQ(value("\nX-Mailer:"), MIME_MAILER_NAME);
    EXPECT_EQ(h.rfind("From: ", 0), 0u);

    MIME_HEADER_FIELDS ascii;
    ascii.senderName = "A \"B\" \\C";
    ascii.to = "x@y";
    EXPECT_EQ(MIME_ComposeHeader(ascii).rfind("From: \"A \\\"B\\\" \\\\C\"\r\nTo: x@y\r\n", 0), 0u);
}

TEST(MimeComposeHeader, EncodedWordsStayShortAndWhole) {
    const std::string text(120, 'a');
    const std::string cyr = [] {
        std::string s;
        for (int i = 0; i < 60; ++i)
            s += "\xD0\x96";
        return s;
    }();
    const std::string w = MIME_EncodeWords("x" + cyr);
    std::regex word("=\\?utf-8\\?B\\?([A-Za-z0-9+/=]+)\\?=");
    std::string joined;
    for (std::sregex_iterator it(w.begin(), w.end(), word), end; it != end; ++it) {
        EXPECT_LE(it->length(), 75);
        std::string part;
        Base64_Decode((*it)[1].str(), &part);
        EXPECT_TRUE(Charset_RepairUtf8(part) == part) << "split inside a character";
        joined += part;
    }
    EXPECT_EQ(joined, "x" + cyr);
    EXPECT_EQ(MIME_EncodeWords(text), text);
    EXPECT_NE(MIME_EncodeWords("=?x?"), "=?x?");
}

} // namespace
