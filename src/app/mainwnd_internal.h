// SPDX-License-Identifier: GPL-3.0-or-later
// What the parts of the main window (commands, tray and menu, the engine's
// bridge, timers) share.
#pragma once

#include "settings/globaldata.h"

#include <cstdint>

namespace iwmainwnd {

// A global setting as a number; fallback when it cannot be read.
inline int _globalInt(int number, int fallback) {
    intptr_t v = 0;
    return GlobalData_GetParam(number, &v) == 0 ? int(v) : fallback;
}

} // namespace iwmainwnd
