// SPDX-License-Identifier: GPL-3.0-or-later
// The release-date marker of an installer file an administrator points to.
#include "common/status.h"
#include "platform/installer_date.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    DATETIME d;
    const uint32_t rc = InstallerDate_Parse(in, &d);
    // A failure leaves nothing of a date behind; only the date fields are set.
    if (rc != 0 && (d.wYear || d.wMonth || d.wDay)) std::abort();
    if (rc != 0 && rc != ERR_NOT_FOUND && rc != ERR_BADARG) std::abort();
    if (d.wHour || d.wMinute || d.wSecond || d.wMilliseconds || d.wDayOfWeek) std::abort();
    return 0;
}
