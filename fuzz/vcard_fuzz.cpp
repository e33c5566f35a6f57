// SPDX-License-Identifier: GPL-3.0-or-later
// Address book files are whatever the user (or a program, or a download)
// put there: every name and address read from one must be valid UTF-8 and
// safe in a header line, and no card may exceed the limits.
#include "common/text.h"
#include "message/vcard.h"

#include <cstdlib>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool oneLine(const std::string& s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return Text_IsValidUtf8(s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VCARD_FILE f;
    std::string error;
    VCard_Parse({reinterpret_cast<const char*>(data), size}, &f, &error);
    check(f.contacts.size() <= VCARD_MAX_CARDS && f.warnings.size() <= VCARD_MAX_WARNINGS);
    for (const VCARD_CONTACT& c : f.contacts) {
        check(oneLine(c.name) && c.emails.size() <= VCARD_MAX_EMAILS);
        for (const std::string& e : c.emails)
            check(oneLine(e) && e.find('@') != std::string::npos &&
                  e.find(',') == std::string::npos);
    }
    return 0;
}
