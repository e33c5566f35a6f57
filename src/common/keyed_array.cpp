// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/keyed_array.h"

#include <cwchar>
#include <cwctype>
#include <vector>

std::wstring KeyedArray_CollationKey(std::string_view key) {
    std::wstring lower;
    lower.reserve(key.size());
    for (size_t pos = 0; pos < key.size();) {
        const char32_t c = Text_NextUtf8(key, &pos);
        // wcsxfrm() reads up to the first NUL; an embedded one would hide the rest.
        if (c == 0) continue;
        lower.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))));
    }
    const size_t size = std::wcsxfrm(nullptr, lower.c_str(), 0);
    if (size == static_cast<size_t>(-1)) return lower; // no collation for this text: plain order
    std::vector<wchar_t> out(size + 1);
    std::wcsxfrm(out.data(), lower.c_str(), out.size());
    return std::wstring(out.data(), size);
}
