// SPDX-License-Identifier: GPL-3.0-or-later
// HTML bodies come from mail and are reduced to text for display and quoting.
#include "common/text.h"
#include "message/html_text.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::string out = MIME_HtmlToText(in);
    if (out.size() > in.size()) std::abort();
    // In place, into a buffer the size of the input.
    std::vector<char> buf(in.begin(), in.end());
    buf.push_back('\0');
    const size_t n = MIME_HtmlToText(buf.data(), buf.size(), buf.data(), in.size());
    if (n >= buf.size() || std::string(buf.data(), n) != out.substr(0, n)) std::abort();
    // Valid UTF-8 in gives valid UTF-8 out.
    if (Text_IsValidUtf8(in) && !Text_IsValidUtf8(out)) std::abort();
    return 0;
}
