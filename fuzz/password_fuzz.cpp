// SPDX-License-Identifier: GPL-3.0-or-later
// Stored passwords come from the store and from profile files.
#include "settings/reg.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const std::string text = Reg_UnscramblePassword(in);
    if (text.size() > size / 2 || text.find('\0') != std::string::npos) std::abort();
    // Whatever was read back is stored and read again unchanged.
    if (Reg_UnscramblePassword(Reg_ScramblePassword(text)) != text) std::abort();
    return 0;
}
