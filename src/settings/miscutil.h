// SPDX-License-Identifier: GPL-3.0-or-later
// Small settings helpers shared by start-up and shutdown.
#pragma once

#include <cstdint>
#include <string>

// Writes the vendor value "OptimizeStartup" as one byte (1 or 0). 0 or
// ERR_OPERATION; on failure *errorText (when given) gets what the caller
// shows under the caption "MiscUtil_SaveOptimizeFlag".
uint32_t MiscUtil_SaveOptimizeFlag(int flag, std::string* errorText = nullptr);
