// SPDX-License-Identifier: GPL-3.0-or-later
#include "message/base64.h"

#include "common/status.h"
#include "message/byte_sink.h"

#include <array>
#include <new>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr int kSkip = -1; // CR, LF
constexpr int kPad = -2;  // "="

constexpr std::array<int8_t, 256> makeTable() {
    std::array<int8_t, 256> t{};
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
    t['\r'] = kSkip;
    t['\n'] = kSkip;
    t['='] = kPad;
    return t;
}
constexpr std::array<int8_t, 256> kTable = makeTable();

template <class Sink> void decode(std::string_view text, Sink& sink) {
    uint32_t acc = 0;
    int have = 0;
    int pads = 0;
    char out[3];
    for (const char ch : text) {
        const int v = kTable[static_cast<unsigned char>(ch)];
        if (v == kSkip) continue;
        if (v == kPad) ++pads;
        acc = (acc << 6) | static_cast<uint32_t>(v < 0 ? 0 : v);
        if (++have == 4) {
            out[0] = static_cast<char>(acc >> 16);
            out[1] = static_cast<char>(acc >> 8);
            out[2] = static_cast<char>(acc);
            // "====" and other over-padded groups give nothing rather than a
            // negative count.
            if (pads < 3) sink.put(out, static_cast<size_t>(3 - pads));
            acc = 0;
            have = 0;
            pads = 0;
        }
    }
    // A last group cut short (missing padding) still holds whole bytes.
    if (have >= 2) {
        acc <<= 6 * (4 - have);
        out[0] = static_cast<char>(acc >> 16);
        out[1] = static_cast<char>(acc >> 8);
        const int n = have - 1 - pads;
        if (n > 0) sink.put(out, static_cast<size_t>(n));
    }
}

} // namespace

std::string Base64_Encode(std::string_view data) {
    std::string out;
    const size_t groups = data.size() / 3 + (data.size() % 3 != 0);
    out.reserve(groups * 4 + groups / 19 * 2);
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    size_t left = data.size();
    size_t done = 0;
    while (left > 0) {
        if (done > 0 && done % 19 == 0) out += "\r\n";
        const uint32_t b0 = p[0];
        const uint32_t b1 = left > 1 ? p[1] : 0;
        const uint32_t b2 = left > 2 ? p[2] : 0;
        const uint32_t acc = (b0 << 16) | (b1 << 8) | b2;
        out += kAlphabet[(acc >> 18) & 63];
        out += kAlphabet[(acc >> 12) & 63];
        out += left > 1 ? kAlphabet[(acc >> 6) & 63] : '=';
        out += left > 2 ? kAlphabet[acc & 63] : '=';
        const size_t step = left < 3 ? left : 3;
        p += step;
        left -= step;
        ++done;
    }
    return out;
}

uint32_t Base64_Decode(std::string_view text, std::string* out) {
    return iwmsg::DecodeToString(out, text.size() / 4 * 3 + 3,
                                 [&](auto& sink) { decode(text, sink); });
}

uint32_t Base64_DecodeToFile(std::string_view text, FILES_WRITER* file) {
    return iwmsg::DecodeToFile(file, [&](auto& sink) { decode(text, sink); });
}
