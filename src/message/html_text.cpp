// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/html_text.h"

#include "common/text.h"

#include <cstring>

namespace {

bool startsNoCase(std::string_view s, size_t at, std::string_view prefix) {
    return s.size() - at >= prefix.size() && Text_EqualsNoCase(s.substr(at, prefix.size()), prefix);
}

} // namespace

std::string MIME_HtmlToText(std::string_view html) {
    if (const size_t nul = html.find('\0'); nul != std::string_view::npos)
        html = html.substr(0, nul);
    const size_t n = html.size();
    std::string out;
    out.reserve(n);
    int lineFeeds = 1;
    size_t afterLastLineFeed = 0;
    size_t i = 0;
    const auto skipPastTag = [&](size_t from) {
        const size_t gt = html.find('>', from);
        return gt == std::string_view::npos ? n : gt + 1;
    };
    while (i < n) {
        const char c = html[i];
        if (c == '<') {
            if (i + 2 < n && (html[i + 1] == 'a' || html[i + 1] == 'A') && html[i + 2] == ' ') {
                const size_t end = skipPastTag(i);
                const std::string_view tag = html.substr(i, end - i);
                for (size_t k = 0; k + 6 <= tag.size(); ++k) {
                    if (!startsNoCase(tag, k, "href=\"")) continue;
                    size_t t = k + 6;
                    const size_t stop = tag.find_first_of("\">", t);
                    const size_t targetEnd = stop == std::string_view::npos ? tag.size() : stop;
                    out += '"';
                    out.append(tag.substr(t, targetEnd - t));
                    out += "\" ";
                    break;
                }
                i = end;
                lineFeeds = 0;
                continue;
            }
            if (startsNoCase(html, i, "<br>")) {
                out += "\r\n";
                i += 4;
                continue;
            }
            if (startsNoCase(html, i, "<hr") && i + 3 < n &&
                (html[i + 3] == ' ' || html[i + 3] == '>')) {
                out += "\r\n\r\n";
                i = skipPastTag(i);
                continue;
            }
            i = skipPastTag(i);
            continue;
        }
        if (c == '&') {
            static constexpr struct {
                std::string_view name;
                std::string_view text;
            } kEntities[] = {
                {"&nbsp", ""}, {"&amp", "&"}, {"&quot", "\""}, {"&gt", ">"}, {"&lt", "<"}};
            bool done = false;
            for (const auto& e : kEntities) {
                if (!startsNoCase(html, i, e.name)) continue;
                out.append(e.text);
                i += e.name.size();
                if (i < n && html[i] == ';') ++i;
                if (!e.text.empty()) lineFeeds = 0;
                done = true;
                break;
            }
            if (done) continue;
            if (i + 2 < n && html[i + 1] == '#' && html[i + 2] >= '0' && html[i + 2] <= '9') {
                // The value is kept modulo 65536 while the digits are read,
                // so no count of digits can overflow it.
                uint32_t code = 0;
                size_t k = i + 2;
                for (int digits = 0; k < n && digits < 23 && html[k] >= '0' && html[k] <= '9';
                     ++k, ++digits)
                    code = (code * 10 + static_cast<uint32_t>(html[k] - '0')) % 65536;
                if (k < n && html[k] == ';') ++k;
                if (code >= 0xD800 && code <= 0xDFFF) code = 0xFFFD;
                if (code != 0) {
                    Text_AppendUtf8(out, code);
                    lineFeeds = 0;
                }
                i = k;
                continue;
            }
        }
        if (c == '\n') {
            if (lineFeeds < 2) {
                out += '\n';
                ++lineFeeds;
                afterLastLineFeed = out.size();
            } else {
                out.resize(afterLastLineFeed);
            }
            ++i;
            continue;
        }
        if (c != ' ' && c != '\t' && c != '\r') lineFeeds = 0;
        out += c;
        ++i;
    }
    return out;
}

size_t MIME_HtmlToText(char* out, size_t capacity, const char* html, size_t htmlLength) {
    if (capacity == 0) return 0;
    const std::string text = MIME_HtmlToText(std::string_view(html, htmlLength));
    const std::string_view cut = Text_CutUtf8(text, capacity - 1);
    std::memmove(out, cut.data(), cut.size());
    out[cut.size()] = '\0';
    return cut.size();
}
