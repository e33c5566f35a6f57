// SPDX-License-Identifier: GPL-3.0-or-later
// The MIME decoder: a received message text (lines ending in CR LF, possibly
// still ending in the POP3 end mark "\r\n.\r\n") parsed into two flat lists,
// text parts and attachments, whose parts point into one owned copy of the
// text. Bodies are decoded only when asked for. Text handed out is UTF-8.
//
// Results are 0 or a status code of common/status.h: ERR_NOMEM, ERR_BADARG
// (a required argument is missing), ERR_NOT_FOUND (no such part or header
// field), ERR_ENCODING (a transfer encoding that cannot be decoded in
// memory), ERR_CREATE (the output file cannot be created or written) and
// ERR_OPERATION (decoding failed).
//
// The parser is lenient and never fails on malformed structure; what it had
// to forgive (a limit reached) goes to the MIME category log. A message is
// used by one thread at a time; the module keeps no global state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Content kinds of a part.
inline constexpr uint32_t KIND_NONE = 0; // no Content-Type field
inline constexpr uint32_t KIND_MULTIPART = 99;
inline constexpr uint32_t KIND_TEXT_PLAIN = 103;
inline constexpr uint32_t KIND_TEXT_HTML = 104;
inline constexpr uint32_t KIND_ATTACHMENT = 107;
// Selectors accepted besides the kinds where a text part is asked for.
inline constexpr uint32_t SELECT_PREFER_PLAIN = 105;
inline constexpr uint32_t SELECT_PREFER_HTML = 106;

// Transfer encodings.
inline constexpr uint32_t ENC_NONE = 0;
inline constexpr uint32_t ENC_BASE64 = 2;
inline constexpr uint32_t ENC_QUOTED_PRINTABLE = 4;
inline constexpr uint32_t ENC_UUENCODE = 8; // uuencoded blocks found in a text body

// Bits of MIME_GetContentFlags.
inline constexpr uint32_t MIME_HAS_HTML = 1;
inline constexpr uint32_t MIME_HAS_PLAIN = 2;
inline constexpr uint32_t MIME_HAS_ATTACHMENTS = 4;

// Limits against hostile structure. Mail within them parses in full.
inline constexpr int MIME_MAX_DEPTH = 64;           // nested multiparts
inline constexpr int MIME_MAX_PART_HEADERS = 10000; // part headers handled per message
inline constexpr size_t MIME_MAX_TEXT = 0x7FFFFFFF; // bytes MIME_Open accepts
inline constexpr size_t MIME_MAX_NAME = 255;        // bytes of a uuencode begin-line name

// Part descriptor, copied as one block (charset codes: message/charset.h).
struct MIME_DESCRIPTOR {
    uint32_t kind;
    uint32_t charset;
    uint32_t encoding;
    char contentType[128];  // media type, NUL-terminated
    char charsetName[128];  // as declared
    char encodingName[128]; // the parser leaves it empty
};

struct MimeMessage;

struct MimePart {
    MimePart* next = nullptr; // next part of the same list
    MimeMessage* owner = nullptr;
    MIME_DESCRIPTOR desc{};
    bool hasFileName = false;
    std::string fileName; // as it stands in the mail: never use it as a path
    std::string data;     // filled only by the composer
    uint32_t headerOffset = 0, headerLength = 0;
    uint32_t bodyOffset = 0, bodyLength = 0;
};

struct MimeMessage {
    MIME_DESCRIPTOR desc{};
    MimePart* textParts = nullptr; // the root part first
    MimePart* attachments = nullptr;
    std::string raw;                              // the copied text; offsets refer to it
    std::vector<std::unique_ptr<MimePart>> store; // owns every part of both lists
};

// Parses a copy of `text` (`length` 0: NUL-terminated). Returns a new message
// or null for a missing or empty text, a text over MIME_MAX_TEXT, or no
// memory. Free it with MIME_Close.
MimeMessage* MIME_Open(const char* text, size_t length);
void MIME_Close(MimeMessage* message); // null is ignored

struct MimeMessageCloser {
    void operator()(MimeMessage* m) const { MIME_Close(m); }
};
using MimeMessagePtr = std::unique_ptr<MimeMessage, MimeMessageCloser>;

// Bare LF line ends turned into CR LF (CR LF stays), for message files saved
// with Unix line ends.
std::string MIME_ToCrLf(std::string_view text);

// The raw text; *length (when given) gets its length. Null for no message.
const char* MIME_GetRaw(const MimeMessage* message, size_t* length);

// MIME_HAS_* bits of the text parts and attachments. ERR_BADARG without a
// message or flags.
uint32_t MIME_GetContentFlags(const MimeMessage* message, uint32_t* flags);

// The text of the part `selector` picks (a kind, SELECT_PREFER_PLAIN or
// SELECT_PREFER_HTML), transfer-decoded, in UTF-8, and reduced from HTML to
// text when a preference selector picked an HTML part. At most `maxBytes`
// bytes, cut on a character boundary. Returns 0, ERR_BADARG, ERR_NOT_FOUND
// or ERR_NOMEM; *text is empty on failure.
uint32_t MIME_GetText(const MimeMessage* message, uint32_t selector, std::string* text,
                      size_t maxBytes = SIZE_MAX);

// Copies the descriptor of the part `selector` picks, or the message's own
// when none matches; selector 0 copies nothing. Returns 0 or ERR_BADARG.
uint32_t MIME_GetPartInfo(const MimeMessage* message, uint32_t selector, MIME_DESCRIPTOR* info);

// The decoded value of a header field (`field` with a leading "\n" to match
// only at a line start, e.g. "\nSubject:"): encoded words decoded, charsets
// converted to UTF-8, folds joined, blanks trimmed; at most `maxBytes`
// bytes, cut on a character boundary. MIME_GetHeader looks in the message's
// header, MIME_GetHeaderFromText in the header block of any text. Returns 0,
// ERR_BADARG, ERR_NOT_FOUND (the field is absent; *value empty) or ERR_NOMEM.
uint32_t MIME_GetHeader(const MimeMessage* message, std::string_view field, std::string* value,
                        size_t maxBytes = SIZE_MAX);
uint32_t MIME_GetHeaderFromText(std::string_view text, std::string_view field, std::string* value,
                                size_t maxBytes = SIZE_MAX);

// The raw value of a header field in the header block of `text` with folds
// joined (one space for each fold) and leading blanks dropped; encoded words
// stay as they are. At most `maxBytes` bytes. False when the field is absent.
bool MIME_GetUnfoldedHeader(std::string_view text, std::string_view field, std::string* value,
                            size_t maxBytes = SIZE_MAX);

// The search under every header lookup. Walks `text`; at each position a
// `stop` marker (if not empty, compared ignoring case) ends the search, then
// `field` is compared ignoring case. On a match: *match is its offset,
// *valueOffset the offset after the name, and *valueLength runs to the first
// `terminator` (if not empty; case-sensitive) or the end of the text, or,
// without a terminator, to the first line feed not followed by a blank (a
// fold continues the value), excluding that line feed and a CR before it.
// Returns 1 when found, else 0 with the outputs zeroed.
int MIME_FindField(std::string_view text, std::string_view stop, std::string_view field,
                   std::string_view terminator, size_t* match, size_t* valueOffset,
                   size_t* valueLength);

// The first attachment when `part` is null, else the part after it.
MimePart* MIME_NextAttachment(const MimeMessage* message, const MimePart* part);

// The attachment's name as the mail gives it, or one made up and kept in the
// part: for a message/rfc822 or message/partial part the enclosed message's
// decoded Subject and ".eml", else "ath%05d.dat" ("ath%05d.eml" for those two
// types) with the 1-based position in the attachment list. For display: pass
// it through Files_SafeName before any file use.
std::string MIME_GetAttachmentName(MimePart* part);

// Decodes an attachment's body (base64, quoted-printable or uuencode) into
// *data. ERR_ENCODING for any other encoding, ERR_BADARG without a part,
// ERR_NOMEM when memory runs out.
uint32_t MIME_DecodeAttachment(const MimePart* part, std::string* data);

// Writes the decoded body (the raw body for other encodings) to `path`
// through a temporary file that replaces the target only when every byte
// reached the disk. Returns 0, ERR_BADARG, or ERR_CREATE when the file could
// not be created or written (nothing is left behind then).
uint32_t MIME_SaveAttachment(const MimePart* part, const std::string& path);
