// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/uu.h"

#include "common/status.h"
#include "message/byte_sink.h"

#include <cstring>
#include <new>

namespace {

template <class Sink> void decode(std::string_view text, Sink& sink) {
    const size_t n = text.size();
    size_t pos = 0;
    char out[3];
    while (pos < n) {
        while (pos < n && (text[pos] == '\r' || text[pos] == '\n'))
            ++pos;
        if (pos >= n) break;
        const char* nl = static_cast<const char*>(std::memchr(text.data() + pos, '\n', n - pos));
        size_t lineEnd = nl ? static_cast<size_t>(nl - text.data()) : n;
        if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
        const auto value = [&](size_t at) -> uint32_t {
            return at < lineEnd ? (static_cast<unsigned char>(text[at]) - 32u) & 63u : 0u;
        };
        size_t count = value(pos);
        if (count == 0) break;
        size_t at = pos + 1;
        while (count > 0) {
            const uint32_t acc =
                (value(at) << 18) | (value(at + 1) << 12) | (value(at + 2) << 6) | value(at + 3);
            out[0] = static_cast<char>(acc >> 16);
            out[1] = static_cast<char>(acc >> 8);
            out[2] = static_cast<char>(acc);
            const size_t take = count < 3 ? count : 3;
            sink.put(out, take);
            count -= take;
            at += 4;
        }
        if (!nl) break;
        pos = static_cast<size_t>(nl - text.data()) + 1;
    }
}

} // namespace

uint32_t Uu_Decode(std::string_view text, std::string* out) {
    return iwmsg::DecodeToString(out, text.size() / 4 * 3, [&](auto& sink) { decode(text, sink); });
}

uint32_t Uu_DecodeToFile(std::string_view text, FILES_WRITER* file) {
    return iwmsg::DecodeToFile(file, [&](auto& sink) { decode(text, sink); });
}
