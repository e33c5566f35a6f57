// SPDX-License-Identifier: GPL-3.0-or-later
// Transfer-encoded bodies and charset-tagged text come from mail: every
// decoder must stay within its input, and every charset conversion must give
// valid UTF-8.
#include "common/text.h"
#include "message/base64.h"
#include "message/charset.h"
#include "message/qp.h"
#include "message/uu.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static constexpr const char* kCharsets[] = {
        "utf-8",     "",       "koi8-r",      "iso-8859-2", "windows-1251", "iso-8859-5", "gb2312",
        "shift_jis", "utf-16", "iso-2022-jp", "utf-7",      "x-unknown",    "big5",       "euc-kr"};
    const char* charset = kCharsets[data[0] % (sizeof kCharsets / sizeof kCharsets[0])];
    const std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string out;
    Base64_Decode(in, &out);
    if (out.size() > in.size() / 4 * 3 + 3) std::abort();
    std::string back;
    Base64_Decode(Base64_Encode(in), &back);
    if (back != in) std::abort();
    Qp_Decode(in, &out);
    if (out.size() > in.size()) std::abort();
    Qp_Decode(in, &out, true);
    Uu_Decode(in, &out);
    if (!Text_IsValidUtf8(Charset_ToUtf8(in, charset))) std::abort();
    if (!Text_IsValidUtf8(Charset_RepairUtf8(in))) std::abort();
    std::string t = in;
    Charset_Koi8rTo1251(t);
    Charset_Iso88592To1250(t);
    Charset_1251ToKoi8r(t);
    return 0;
}
