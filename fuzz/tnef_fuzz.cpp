// SPDX-License-Identifier: GPL-3.0-or-later
// winmail.dat attachments come straight from mail. The whole input is one
// TNEF stream, listed (the decoding behind both listing and unpacking);
// every name it yields must be one safe path component.
#include "common/text.h"
#include "message/tnef.h"
#include "platform/files.h"
#include "platform/user_message.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The warnings a hostile stream produces are expected; showing them on
    // stderr would only slow the fuzzer down. Set on first use: the
    // handler's own storage may not be constructed yet while statics are.
    static const bool quiet = [] {
        UserMsg_SetHandler([](std::string_view, std::string_view, unsigned) { return UM_IDOK; });
        return true;
    }();
    (void)quiet;
    std::vector<TNEF_NAME> names;
    TNEF_Parse({data, size}, TNEF_MODE::List, "", &names);
    for (const TNEF_NAME& n : names) {
        check(!n.display.empty() && Text_IsValidUtf8(n.display));
        check(!n.disk.empty() && n.disk.size() <= FILES_NAME_MAX);
        check(n.disk != "." && n.disk != "..");
        for (const char c : n.disk) {
            const auto u = static_cast<unsigned char>(c);
            check(u >= 0x20 && u != 0x7F && c != '/' && c != '\\');
        }
    }
    return 0;
}
