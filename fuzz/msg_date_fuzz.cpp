// SPDX-License-Identifier: GPL-3.0-or-later
// Dates come from the Received, X-Apparently-To and Date fields of mail.
#include "message/msg_header.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    DATETIME d{};
    const int rc = Msg_ParseDate(in, &d);
    if (rc != 0 && rc != 1) std::abort();
    // A date is either missing with every other field 0, or valid.
    if (DateTime_IsMissing(d)) {
        if (rc != 0 || d.wMonth || d.wDay || d.wHour || d.wMinute || d.wSecond) std::abort();
    } else if (rc != 1 || d.wMonth < 1 || d.wMonth > 12 || d.wDay < 1 || d.wDay > 31 ||
               d.wHour > 23 || d.wMinute > 59 || d.wSecond > 60 || d.wDayOfWeek > 6) {
        std::abort();
    }
    Msg_GetDate(in, &d);
    return 0;
}
