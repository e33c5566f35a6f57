// SPDX-License-Identifier: GPL-3.0-or-later
// Messages for the viewer tests: a multipart message with attachments, and
// TNEF streams with the files a test wants packed.
#pragma once

#include "message/base64.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace iwtest {

struct Part {
    std::string name; // "" for a text part
    std::string data;
    std::string type = "application/octet-stream";
};

// A mixed message: `text` as its plain part (an HTML part too when `html`
// is given), then the attachments, base64-encoded.
inline std::string MakeMessage(const std::string& subject, const std::string& text,
                               const std::vector<Part>& attachments = {},
                               const std::string& html = "") {
    std::string m = "From: Alice <alice@example.org>\r\nTo: Bob <bob@example.org>\r\n"
                    "Subject: " +
                    subject +
                    "\r\nDate: Tue, 4 Mar 2025 10:20:30 +0000\r\nMIME-Version: 1.0\r\n"
                    "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n";
    if (html.empty()) {
        m += "--XX\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + text + "\r\n";
    } else {
        m += "--XX\r\nContent-Type: multipart/alternative; boundary=\"YY\"\r\n\r\n";
        if (!text.empty())
            m += "--YY\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + text + "\r\n";
        m += "--YY\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + html + "\r\n--YY--\r\n";
    }
    for (const Part& p : attachments)
        m += "--XX\r\nContent-Type: " + p.type + "; name=\"" + p.name +
             "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
             "filename=\"" +
             p.name + "\"\r\n\r\n" + Base64_Encode(p.data) + "\r\n";
    return m + "--XX--\r\n";
}

// A TNEF stream packing these (name, contents) files.
inline std::string MakeTnef(const std::vector<std::pair<std::string, std::string>>& files) {
    const auto le16 = [](uint16_t v) {
        return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
    };
    const auto le32 = [&le16](uint32_t v) {
        return le16(static_cast<uint16_t>(v)) + le16(static_cast<uint16_t>(v >> 16));
    };
    std::string s = std::string("\x78\x9F\x3E\x22", 4) + le16(0x0101);
    const auto attr = [&](uint16_t id, const std::string& data) {
        uint16_t sum = 0;
        for (const char c : data)
            sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
        s += std::string(1, 2) + le32(0x00060000u | id) + le32(uint32_t(data.size())) + data +
             le16(sum);
    };
    for (const auto& f : files) {
        attr(0x9002, std::string(14, '\0'));
        attr(0x8010, f.first + '\0');
        attr(0x800F, f.second);
    }
    return s;
}

} // namespace iwtest
