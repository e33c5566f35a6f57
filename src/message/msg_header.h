// SPDX-License-Identifier: GPL-3.0-or-later
// The header fields of a new message record and the message date, read from
// a message text as the server returned it (the header that TOP n 0 gives,
// or the whole RETR answer), starting with the rest of the "+OK" line.
#pragma once

#include "common/datetime.h"
#include "message/mime_decoder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Largest number of bytes a record keeps of each text field (cut on a UTF-8
// character boundary): one less than the field's buffer of 128 or 256.
inline constexpr size_t MSG_FIELD_MAX = 127; // From, ReplyTo, Subject, MsgId
inline constexpr size_t MSG_TO_MAX = 255;    // To

struct MSG_FIELDS {
    std::string From;    // decoded From
    std::string ReplyTo; // decoded Reply-To
    std::string To;      // decoded To
    std::string Subject; // decoded Subject
    std::string MsgId;   // raw Message-ID bytes, folds joined; " " when absent
    DATETIME Date;       // Msg_GetDate
    int32_t HasAttach;   // 1 when the parsed message has an attachment
};

// Fills every field from `text`. A header field counts only in the header
// block (up to the first empty line) and where its name begins a line; an
// absent one leaves an empty text. HasAttach comes from `parsed` (the whole
// message opened with MIME_Open) and is 0 when it is null, as for a message
// of which only the header was fetched.
void Msg_GetRecordFields(std::string_view text, const MimeMessage* parsed, MSG_FIELDS* fields);

// The message date, in local time: the date after the first ";" of the first
// "Received:" field, else of the first "X-Apparently-To:" field, else the
// "Date:" field; each only from the header block. A message without any
// gives DateTime_Missing() (every other field 0).
void Msg_GetDate(std::string_view text, DATETIME* date);

// Parses an RFC 5322 date such as "Thu, 21 Oct 2010 14:05:09 +0200" (day
// name optional, seconds required). A known zone (numeric, UT/GMT, the US
// names, a single military letter) converts the time to local time; an
// unknown zone keeps it as written. Two-digit years 00-49 are 20xx, 50-99
// 19xx, three-digit years are + 1900. Returns 1 when a date was produced,
// 0 when the text is not a date (*date is then DateTime_Missing()).
int Msg_ParseDate(std::string_view text, DATETIME* date);
