// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/qp.h"

#include "common/status.h"
#include "message/byte_sink.h"

#include <new>

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

template <class Sink> void decode(std::string_view text, Sink& sink, bool underscoreIsSpace) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (c == '\0') break;
        if (c == '_' && underscoreIsSpace) {
            sink.put(' ');
            ++i;
            continue;
        }
        if (c != '=') {
            // Copy the run up to the next "=" in one go.
            size_t j = i + 1;
            while (j < n && text[j] != '=' && text[j] != '\0' &&
                   !(underscoreIsSpace && text[j] == '_'))
                ++j;
            sink.put(text.data() + i, j - i);
            i = j;
            continue;
        }
        // "=" at the very end: nothing follows to read.
        if (i + 1 >= n || text[i + 1] == '\0') {
            sink.put('=');
            break;
        }
        if (text[i + 1] == '\r' && i + 2 < n && text[i + 2] == '\n') {
            i += 3;
            continue;
        }
        const int hi = hexValue(text[i + 1]);
        const int lo = i + 2 < n ? hexValue(text[i + 2]) : -1;
        if (hi >= 0 && lo >= 0) {
            sink.put(static_cast<char>(hi * 16 + lo));
            i += 3;
            continue;
        }
        // An invalid escape stays as it was written: "=" and the next
        // character, or "=", the one valid digit and the character after it.
        size_t keep = hi >= 0 ? 3 : 2;
        if (i + keep > n) keep = n - i;
        size_t k = 0;
        while (k < keep && text[i + k] != '\0')
            ++k;
        sink.put(text.data() + i, k);
        if (k < keep) break;
        i += keep;
    }
}

} // namespace

uint32_t Qp_Decode(std::string_view text, std::string* out, bool underscoreIsSpace) {
    return iwmsg::DecodeToString(out, text.size(),
                                 [&](auto& sink) { decode(text, sink, underscoreIsSpace); });
}

uint32_t Qp_DecodeToFile(std::string_view text, FILES_WRITER* file) {
    return iwmsg::DecodeToFile(file, [&](auto& sink) { decode(text, sink, false); });
}
