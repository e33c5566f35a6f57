// SPDX-License-Identifier: GPL-3.0-or-later
// Attachments: their names and their decoded bytes, in memory or in a file.
#include "message/mime_decoder.h"
#include "message/mime_internal.h"

#include "common/status.h"
#include "message/base64.h"
#include "message/qp.h"
#include "message/uu.h"
#include "platform/files.h"

#include <cstdio>

using namespace iwmime;

MimePart* MIME_NextAttachment(const MimeMessage* message, const MimePart* part) {
    if (part) return part->next;
    return message ? message->attachments : nullptr;
}

std::string MIME_GetAttachmentName(MimePart* part) {
    if (!part) return {};
    if (part->hasFileName) return part->fileName;
    const MimeMessage* m = part->owner;
    const std::string_view type = part->desc.contentType;
    const bool message =
        startsNoCase(type, 0, "message/rfc822") || startsNoCase(type, 0, "message/partial");
    std::string name;
    if (message && m && part->bodyOffset >= 2 && part->bodyOffset <= m->raw.size()) {
        // From the CR LF before the body, so that a Subject on the enclosed
        // message's first line is found as well.
        const std::string_view enclosed =
            std::string_view(m->raw).substr(part->bodyOffset - 2, part->bodyLength + 2u);
        std::string subject;
        if (MIME_GetHeaderFromText(enclosed, "\nSubject:", &subject) == 0 && !subject.empty())
            name = subject + ".eml";
    }
    if (name.empty()) {
        unsigned index = 1;
        if (m)
            for (const MimePart* p = m->attachments; p && p != part; p = p->next)
                ++index;
        char made[32];
        std::snprintf(made, sizeof made, "ath%05u.%s", index, message ? "eml" : "dat");
        name = made;
    }
    part->fileName = name;
    part->hasFileName = true;
    return name;
}

uint32_t MIME_DecodeAttachment(const MimePart* part, std::string* data) {
    if (!part || !data || !part->owner) return ERR_BADARG;
    data->clear();
    const std::string_view body = bodyOf(part);
    switch (part->desc.encoding) {
    case ENC_BASE64:
        return Base64_Decode(body, data);
    case ENC_QUOTED_PRINTABLE:
        return Qp_Decode(body, data);
    case ENC_UUENCODE:
        return Uu_Decode(body, data);
    default:
        return ERR_ENCODING;
    }
}

uint32_t MIME_SaveAttachment(const MimePart* part, const std::string& path) {
    if (!part || !part->owner || path.empty()) return ERR_BADARG;
    FILES_WRITER w;
    if (Files_Begin(&w, path) != 0) return ERR_CREATE;
    const std::string_view body = bodyOf(part);
    uint32_t rc;
    switch (part->desc.encoding) {
    case ENC_BASE64:
        rc = Base64_DecodeToFile(body, &w);
        break;
    case ENC_QUOTED_PRINTABLE:
        rc = Qp_DecodeToFile(body, &w);
        break;
    case ENC_UUENCODE:
        rc = Uu_DecodeToFile(body, &w);
        break;
    default:
        rc = Files_Write(&w, body.data(), body.size());
        break;
    }
    if (rc != 0) {
        Files_Abort(&w);
        return ERR_CREATE;
    }
    return Files_Commit(&w);
}
