// SPDX-License-Identifier: GPL-3.0-or-later
// The MIME composer: an outgoing message held as a MimeMessage (a text root
// part and a list of attachments whose data is already base64) and written as
// header lines and a MIME body through a sink that the sender supplies.
//
// Everything written is plain CR LF text with lines of at most 998 octets;
// non-ASCII header text goes out as RFC 2047 encoded words, non-ASCII file
// names as RFC 2231 parameters, and a text with bytes >= 0x80 declares its
// charset. Dot-stuffing is the sink's business (the SMTP data writer does it).
#pragma once

#include "message/mime_decoder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

inline constexpr const char* MIME_MAILER_NAME = "Inboxwarden 8.0.2";

// Receives the composed text in pieces, each one or more whole lines ending in
// CR LF. Returns 0, or a status that stops the writing and is passed back.
using MIME_SINK = std::function<uint32_t(std::string_view text)>;

// A new composed message with an empty text root part (kind KIND_TEXT_PLAIN,
// encoding 0), or null without memory. Free it with MIME_Destroy.
MimeMessage* MIME_Create();

// Frees a composed message with both lists. Always 0; null is ignored.
uint32_t MIME_Destroy(MimeMessage* message);

// Replaces the root part's text (UTF-8; LF or CR LF line ends) and copies
// `desc` (may be null) into the root part, whose kind and encoding are then
// forced to KIND_TEXT_PLAIN and 0. 0 or ERR_BADARG without a message.
uint32_t MIME_SetText(MimeMessage* message, std::string_view text, const MIME_DESCRIPTOR* desc);

// Attaches a local file the user chose. With data (length > 0) that data is
// attached under the path's base name; otherwise the file at `path` is read
// whole (for an unreadable file *errorText, when given, gets the text the
// caller shows under the caption "File_LoadFile"). The new part goes to the
// head of the list and is handed back through *out (may be null).
//   0; ERR_BADARG (no message or path); ERR_OPERATION (unreadable or empty
//   file; nothing added).
uint32_t MIME_AddAttachment(MimeMessage* message, const char* data, size_t length,
                            const std::string& path, MimePart** out,
                            std::string* errorText = nullptr);

// Attaches bytes under a name that came from mail. Never touches the file
// system, whatever the name or the length (an empty attachment stays an empty
// part); the name is reduced by Files_SafeName with `index`. 0 or ERR_BADARG.
uint32_t MIME_AddAttachmentData(MimeMessage* message, std::string_view data, std::string_view name,
                                unsigned index, MimePart** out);

// Carries an attachment of a received message over to a composed one
// (forwarding): its decoded bytes, or its body as it stands for identity
// encodings (7bit, 8bit, binary) and for bodies that do not decode, under
// its sanitised name. `index` is its 1-based position in the source list.
//   0; ERR_BADARG; ERR_NOMEM.
uint32_t MIME_AddForwardedAttachment(MimeMessage* message, MimePart* source, unsigned index,
                                     MimePart** out);

// Unlinks an attachment from its message and frees it. 0 or ERR_BADARG.
uint32_t MIME_RemoveAttachment(MimePart* part);

// 1 when the message has attachments, else 0.
int MIME_HasAttachments(const MimeMessage* message);

// The header lines of a composed message, in this order: From, Reply-To,
// To, Cc, Subject, Date, Message-ID, X-Mailer. Empty fields are left out
// (From only when it has neither name nor address). CR, LF and NUL in any
// value become spaces; non-ASCII text is encoded (RFC 2047); long lines are
// folded. Bcc never appears.
struct MIME_HEADER_FIELDS {
    std::string senderName;
    std::string senderAddress;
    std::string replyTo;
    std::string to;
    std::string cc;
    std::string subject;
    std::string date;      // the Date value as made by the SMTP client
    std::string messageId; // with its angle brackets; empty: none
};
std::string MIME_ComposeHeader(const MIME_HEADER_FIELDS& fields);

// "MIME-Version: 1.0", the content header and the body: one text part, or a
// multipart/mixed body with the text part first and the attachments in list
// order. Stops at the first failure of the sink and returns it; 0 when all
// was written; ERR_BADARG without a message or sink.
uint32_t MIME_Write(const MimeMessage* message, const MIME_SINK& sink);

// One part (with its delimiter line when `boundary` is not empty): the text
// part for any kind but KIND_ATTACHMENT, else an attachment named by the
// base name of `fileName` with `data` as its base64 body. 0 or the sink's
// failure.
uint32_t MIME_WritePart(const MIME_SINK& sink, const MIME_DESCRIPTOR& desc,
                        std::string_view fileName, std::string_view data,
                        std::string_view boundary);

// RFC 2047 encoded words (UTF-8, base64) for unstructured header text; ASCII
// text without "=?" is returned as it is. Words are at most 75 characters,
// separated by a single space, never split inside a UTF-8 character.
std::string MIME_EncodeWords(std::string_view text);

// A random value from the process-wide generator behind boundaries, message
// ids and bounce tokens: seeded once per process, so two messages made in the
// same second still differ. Safe from any thread.
uint32_t MIME_Random();

// "boundary_" three letters A..Y and three numbers (the layout receivers
// have always seen).
std::string MIME_MakeBoundary();

// "<time.random@domain>" with the domain of `address` (after its last '@'),
// or "localhost" when it has none.
std::string MIME_MakeMessageId(std::string_view address);
