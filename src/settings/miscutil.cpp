// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/miscutil.h"
#include "common/status.h"
#include "platform/log.h"
#include "settings/reg.h"
#include "settings/settings.h"

uint32_t MiscUtil_SaveOptimizeFlag(int flag, std::string* errorText) {
    DebugLog_WriteText(flag ? "MiscUtil_SaveOptimizeFlag: setting flag to TRUE\n"
                            : "MiscUtil_SaveOptimizeFlag: setting flag to FALSE\n");
    HREGKEY vendor = HREGKEY_NONE;
    if (const uint32_t rc = RegStore_CreateKey(HREGKEY_USER, REG_VENDOR_PATH, &vendor); rc) {
        if (errorText)
            *errorText = std::string("Failed to open registry key for Software\\Corvale:\r\n\r\n") +
                         RegStore_ErrorText(rc);
        return ERR_OPERATION;
    }
    const char b = flag ? 1 : 0;
    if (const uint32_t rc = Settings_WriteVendor([&] {
            return RegStore_SetValue(vendor, "OptimizeStartup", REGTYPE_BINARY,
                                     std::string_view(&b, 1));
        });
        rc) {
        if (errorText) *errorText = RegStore_ErrorText(rc);
        return ERR_OPERATION;
    }
    return 0;
}
