// Small settings helpers shared by start-up and shutdown.
#pragma once

#include <cstdint>

// Writes the vendor value "OptimizeStartup" as one byte (1 or 0); failures
// are shown in a box captioned "MiscUtil_SaveOptimizeFlag". 0 or ERR_OPERATION.
uint32_t MiscUtil_SaveOptimizeFlag(int flag);
