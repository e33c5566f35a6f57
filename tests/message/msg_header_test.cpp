// SPDX-License-Identifier: GPL-3.0-or-later
#include "../support/temp_env.h"
#include "message/mime_decoder.h"
#include "message/msg_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using ZoneGuard = iwtest::ScopedTz;

std::string show(const DATETIME& d) {
    if (DateTime_IsMissing(d)) return "missing";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u w%u", d.wYear, d.wMonth, d.wDay,
                  d.wHour, d.wMinute, d.wSecond, d.wDayOfWeek);
    return buf;
}

std::string parse(std::string_view s) {
    DATETIME d{};
    const int rc = Msg_ParseDate(s, &d);
    EXPECT_EQ(rc == 1, !DateTime_IsMissing(d)) << s;
    return show(d);
}

TEST(MsgParseDate, ZonesConvertToLocalTime) {
    ZoneGuard utc("UTC");
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"Thu, 21 Oct 2010 14:05:09 +0200", "2010-10-21 12:05:09 w4"},
        {"21 Oct 2010 14:05:09 GMT", "2010-10-21 14:05:09 w4"},
        {"  Thu ,21 oct 2010 14:05:09 UTC", "2010-10-21 14:05:09 w4"},
        {"Thu, 21 Oct 2010 14:05:09 +0530", "2010-10-21 08:35:09 w4"},
        {"Thu, 21 Oct 2010 00:05:09 +0530", "2010-10-20 18:35:09 w3"},
        {"Thu, 21 Oct 2010 23:05:09 -130", "2010-10-22 00:35:09 w5"},
        {"Thu, 21 Oct 2010 14:05:09 EST", "2010-10-21 19:05:09 w4"},
        {"Thu, 21 Oct 2010 14:05:09 Z", "2010-10-21 14:05:09 w4"},
        {"Thu, 21 Oct 2010 14:05:09 A", "2010-10-21 15:05:09 w4"},
        {"Thu, 31 Dec 2010 23:59:59 -0100", "2011-01-01 00:59:59 w6"},
        // Unknown zones keep the time as written: multi-letter words are not
        // military letters.
        {"Thu, 21 Oct 2010 14:05:09 XYZ", "2010-10-21 14:05:09 w4"},
        {"Thu, 21 Oct 2010 14:05:09 CEST", "2010-10-21 14:05:09 w4"},
        {"Thu, 21 Oct 2010 14:05:09 +02", "2010-10-21 14:05:09 w4"},
        {"Thu, 21 Oct 2010 14:05:09", "2010-10-21 14:05:09 w4"},
        // Two- and three-digit years.
        {"1 Jan 99 00:00:00 GMT", "1999-01-01 00:00:00 w5"},
        {"1 Jan 49 00:00:00 GMT", "2049-01-01 00:00:00 w5"},
        {"1 Jan 110 00:00:00 GMT", "2010-01-01 00:00:00 w5"},
        // Not dates.
        {"Thu, 21 Oct 2010 14:05 +0200", "missing"},
        {"Thu, 21 Foo 2010 14:05:09 +0200", "missing"},
        {"Thu, Oct 2010 14:05:09", "missing"},
        {"21 Oct", "missing"},
        {"", "missing"},
        {"Thu, 21 Oct 2010 14:05:", "missing"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse(c.in), c.out) << c.in;
}

TEST(MsgParseDate, KnownZoneConvertsThroughUtcAcrossADaylightSavingGap) {
    ZoneGuard berlin("Europe/Berlin");
    // The clocks went from 02:00 CET to 03:00 CEST at 01:00 UTC; a local
    // mktime of the UTC fields would land in the gap and come out an hour off.
    EXPECT_EQ(parse("Sun, 28 Mar 2010 02:30:00 +0000"), "2010-03-28 04:30:00 w0");
    EXPECT_EQ(parse("Sun, 28 Mar 2010 00:30:00 GMT"), "2010-03-28 01:30:00 w0");
    // An unknown zone stays as written even inside the local gap.
    EXPECT_EQ(parse("Sun, 28 Mar 2010 02:30:00 XYZ"), "2010-03-28 02:30:00 w0");
}

std::string dateOf(std::string_view lfText) {
    DATETIME d{};
    Msg_GetDate(MIME_ToCrLf(lfText), &d);
    return show(d);
}

TEST(MsgGetDate, ArrivalTimeWinsAndOnlyHeaderLinesCount) {
    ZoneGuard utc("UTC");
    EXPECT_EQ(dateOf("\nReceived: from a by b;\n Thu, 21 Oct 2010 14:05:09 -0000\n"
                     "Date: Fri, 1 Jan 2010 00:00:00 +0000\n\nbody\n"),
              "2010-10-21 14:05:09 w4");
    EXPECT_EQ(dateOf("\nX-Apparently-To: me; Thu, 21 Oct 2010 14:05:09 +0100\n"
                     "Date: Fri, 1 Jan 2010 00:00:00 +0000\n\n"),
              "2010-10-21 13:05:09 w4");
    // A Received field without a usable date falls through to Date.
    EXPECT_EQ(dateOf("\nReceived: from a by b\nDate: Fri, 1 Jan 2010 00:00:00 +0000\n\n"),
              "2010-01-01 00:00:00 w5");
    // X-Received is not Received; a quoted header in the body is not a header.
    EXPECT_EQ(dateOf("\nX-Received: by x; Thu, 21 Oct 2010 14:05:09 -0000\n"
                     "Date: Fri, 1 Jan 2010 00:00:00 +0000\n\n"
                     "Received: by y; Sat, 2 Jan 2010 00:00:00 +0000\n"),
              "2010-01-01 00:00:00 w5");
    // The text itself may start with a field (no "+OK" rest before it).
    EXPECT_EQ(dateOf("Received: by y; Sat, 2 Jan 2010 00:00:00 +0000\n\n"),
              "2010-01-02 00:00:00 w6");
}

TEST(MsgGetDate, DatelessMessageHasEveryFieldZero) {
    DATETIME d;
    std::memset(&d, 0xAB, sizeof d);
    Msg_GetDate(MIME_ToCrLf("\nSubject: none\n\nDate: Fri, 1 Jan 2010 00:00:00 +0000\n"), &d);
    EXPECT_EQ(d.wYear, DATETIME_YEAR_MISSING);
    EXPECT_EQ(d.wMonth + d.wDayOfWeek + d.wDay + d.wHour + d.wMinute + d.wSecond + d.wMilliseconds,
              0);
}

TEST(MsgRecordFields, FilledFromTheHeaderDecodedAndCut) {
    ZoneGuard utc("UTC");
    const std::string longTo(300, 'x');
    const std::string text = MIME_ToCrLf(
        " 1234 octets\nFrom: =?utf-8?q?J=C3=B6rg?= <j@example.org>\nReply-To: r@example.org\n"
        "To: " +
        longTo + "\nSubject: =?utf-8?b?" +
        "w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOp"
        "w6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOpw6nDqcOp"
        "?=\nMessage-ID:\n <id@example.org>\nDate: Thu, 21 Oct 2010 14:05:09 +0200\n"
        "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: application/zip\n\nz\n"
        "--b--\n");
    MimeMessagePtr m(MIME_Open(text.data(), text.size()));
    MSG_FIELDS f;
    Msg_GetRecordFields(text, m.get(), &f);
    EXPECT_EQ(f.From, "J\xC3\xB6rg <j@example.org>");
    EXPECT_EQ(f.ReplyTo, "r@example.org");
    EXPECT_EQ(f.To, std::string(255, 'x'));
    EXPECT_EQ(f.Subject.size(), 126u); // 63 two-byte characters, none split
    EXPECT_EQ(f.MsgId, "<id@example.org>");
    EXPECT_EQ(show(f.Date), "2010-10-21 12:05:09 w4");
    EXPECT_EQ(f.HasAttach, 1);

    Msg_GetRecordFields(text, nullptr, &f);
    EXPECT_EQ(f.HasAttach, 0);

    // The id keeps the server's bytes, UTF-8 or not, up to 127 of them.
    Msg_GetRecordFields(MIME_ToCrLf("\nMessage-ID: <\xff" + std::string(200, 'a') + ">\n\n"),
                        nullptr, &f);
    EXPECT_EQ(f.MsgId, "<\xff" + std::string(125, 'a'));
}

TEST(MsgRecordFields, AbsentFieldsAreEmptyAndBodyLinesDoNotCount) {
    const std::string text = MIME_ToCrLf("\nX-Original-Subject: not this\n\n"
                                         "Subject: nor this\nFrom: nor@this\n");
    MSG_FIELDS f;
    Msg_GetRecordFields(text, nullptr, &f);
    EXPECT_EQ(f.Subject, "");
    EXPECT_EQ(f.From, "");
    EXPECT_EQ(f.To, "");
    EXPECT_EQ(f.MsgId, " ");
    EXPECT_TRUE(DateTime_IsMissing(f.Date));
    // A text that begins with the field itself.
    Msg_GetRecordFields(MIME_ToCrLf("Subject: first line\n\n"), nullptr, &f);
    EXPECT_EQ(f.Subject, "first line");
}

} // namespace
