// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/decode_command.h"
#include "cli/terminal.h"

#include "common/status.h"
#include "message/charset.h"
#include "message/mime_decoder.h"
#include "message/msg_header.h"
#include "net/tls_lib.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Attachment {
    std::string name;
    size_t size;
    std::string sha256;
};

std::string sha256Hex(const std::string& data) {
    const TLS_LIB* t = Tls_Lib();
    if (!t) return {}; // the digest's library is OpenSSL's, which is missing
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    t->EVP_Digest(data.data(), data.size(), digest, &len, t->EVP_sha256(), nullptr);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < len; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

std::string flagsText(uint32_t flags) {
    std::string s;
    if (flags & MIME_HAS_HTML) s += " html";
    if (flags & MIME_HAS_PLAIN) s += " plain";
    if (flags & MIME_HAS_ATTACHMENTS) s += " attachments";
    return s.empty() ? "" : " (" + s.substr(1) + ")";
}

} // namespace

int Cli_Decode(const std::string& path, bool json) {
    const char* file = path.c_str();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "inboxwarden-cli: cannot read '%s': %s\n", Cli_Printable(path).c_str(),
                     Cli_LastSystemError().c_str());
        return 1;
    }
    // A file holds the message without the server's "+OK" line; the empty
    // line start stands in for its rest, so the first header line is found
    // like every other. Unix line ends become CR LF as on the wire.
    const std::string text =
        "\r\n" + MIME_ToCrLf(std::string(std::istreambuf_iterator<char>(in), {}));
    MimeMessagePtr m(MIME_Open(text.data(), text.size()));
    if (!m) {
        std::fprintf(stderr, "inboxwarden-cli: '%s' cannot be read as a message\n",
                     Cli_Printable(path).c_str());
        return 1;
    }

    MSG_FIELDS rec;
    Msg_GetRecordFields(text, m.get(), &rec);
    uint32_t flags = 0;
    MIME_GetContentFlags(m.get(), &flags);
    std::string body;
    const bool hasText = MIME_GetText(m.get(), SELECT_PREFER_PLAIN, &body) == 0;

    std::vector<Attachment> atts;
    for (MimePart* p = MIME_NextAttachment(m.get(), nullptr); p;
         p = MIME_NextAttachment(m.get(), p)) {
        std::string data;
        if (MIME_DecodeAttachment(p, &data) == ERR_ENCODING) {
            // What saving writes for a body without a transfer encoding.
            data.assign(m->raw, p->bodyOffset, p->bodyLength);
        }
        atts.push_back(
            {Charset_RepairUtf8(MIME_GetAttachmentName(p)), data.size(), sha256Hex(data)});
    }

    if (json) {
        using nlohmann::json;
        json att = json::array();
        for (const auto& a : atts)
            att.push_back({{"name", a.name}, {"size", a.size}, {"sha256", a.sha256}});
        const json out = {
            {"kind", m->desc.kind},
            {"charset", Charset_RepairUtf8(m->desc.charsetName)},
            {"charset_code", m->desc.charset},
            {"encoding", m->desc.encoding},
            {"content_type", Charset_RepairUtf8(m->desc.contentType)},
            {"flags", flags},
            {"record",
             {{"From", rec.From},
              {"ReplyTo", rec.ReplyTo},
              {"To", rec.To},
              {"Subject", rec.Subject},
              {"Date", DateTime_IsMissing(rec.Date) ? json(nullptr) : json(Cli_Date(rec.Date))},
              {"HasAttach", rec.HasAttach != 0}}},
            {"text", hasText ? json(body) : json(nullptr)},
            {"attachments", att},
        };
        std::puts(out.dump(2, ' ', false, json::error_handler_t::replace).c_str());
        return 0;
    }
    // Everything below comes from the message: its control bytes must not
    // reach the terminal as commands.
    auto shown = [](std::string_view t) { return Cli_Printable(t); };
    std::printf("kind: %u\ncontent_type: %s\ncharset: %s (%u)\nencoding: %u\nflags: %u%s\n",
                m->desc.kind, shown(Charset_RepairUtf8(m->desc.contentType)).c_str(),
                shown(Charset_RepairUtf8(m->desc.charsetName)).c_str(), m->desc.charset,
                m->desc.encoding, flags, flagsText(flags).c_str());
    std::printf("From: %s\nReplyTo: %s\nTo: %s\nSubject: %s\nDate: %s\nHasAttach: %d\n",
                shown(rec.From).c_str(), shown(rec.ReplyTo).c_str(), shown(rec.To).c_str(),
                shown(rec.Subject).c_str(),
                DateTime_IsMissing(rec.Date) ? "(none)" : Cli_Date(rec.Date).c_str(),
                rec.HasAttach);
    for (const auto& a : atts)
        std::printf("attachment: %s %zu %s\n", a.sha256.c_str(), a.size, shown(a.name).c_str());
    std::printf("text:%s\n", hasText ? "" : " (none)");
    if (hasText) {
        body = Cli_Printable(body, true);
        std::fwrite(body.data(), 1, body.size(), stdout);
    }
    if (hasText && !body.empty() && body.back() != '\n') std::fputc('\n', stdout);
    return 0;
}
