// SPDX-License-Identifier: GPL-3.0-or-later
// Message texts come from POP3 servers and saved files: parse them and use
// every accessor, checking that parts stay inside the text and that text
// handed out is UTF-8.
#include "common/text.h"
#include "message/mime_decoder.h"
#include "message/msg_header.h"

#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    MimeMessagePtr m(MIME_Open(in.data(), in.size()));
    if (!m) return 0;
    size_t rawLength = 0;
    MIME_GetRaw(m.get(), &rawLength);
    uint32_t flags = 0;
    MIME_GetContentFlags(m.get(), &flags);
    std::string text;
    for (const uint32_t sel : {0u, 99u, 103u, 104u, 105u, 106u, 107u}) {
        if (MIME_GetText(m.get(), sel, &text) == 0) check(Text_IsValidUtf8(text));
        MIME_GetText(m.get(), sel, &text, 7);
        check(text.size() <= 7 && Text_IsValidUtf8(text));
        MIME_DESCRIPTOR d{};
        MIME_GetPartInfo(m.get(), sel, &d);
    }
    for (const MimePart* p = m->textParts; p; p = p->next)
        check(size_t{p->bodyOffset} + p->bodyLength <= rawLength);
    for (const char* field : {"\nSubject:", "\nFrom:", "\nContent-Type:", "Subject:"}) {
        if (MIME_GetHeader(m.get(), field, &text) == 0) check(Text_IsValidUtf8(text));
        MIME_GetUnfoldedHeader(in, field, &text, 50);
        check(text.size() <= 50);
        size_t a, b, c;
        if (MIME_FindField(in, "\r\n\r\n", field, "\r\n", &a, &b, &c)) check(b + c <= in.size());
    }
    int count = 0;
    for (MimePart* p = MIME_NextAttachment(m.get(), nullptr); p && count < 200;
         p = MIME_NextAttachment(m.get(), p), ++count) {
        check(size_t{p->bodyOffset} + p->bodyLength <= rawLength);
        MIME_GetAttachmentName(p);
        std::string bytes;
        MIME_DecodeAttachment(p, &bytes);
    }
    MSG_FIELDS fields;
    Msg_GetRecordFields(in, m.get(), &fields);
    check(fields.From.size() <= MSG_FIELD_MAX && fields.To.size() <= MSG_TO_MAX &&
          fields.Subject.size() <= MSG_FIELD_MAX && fields.MsgId.size() <= MSG_FIELD_MAX);
    check(Text_IsValidUtf8(fields.From) && Text_IsValidUtf8(fields.Subject) &&
          Text_IsValidUtf8(fields.MsgId));
    return 0;
}
