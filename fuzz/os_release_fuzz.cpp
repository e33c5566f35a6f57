// SPDX-License-Identifier: GPL-3.0-or-later
// The debug log's head reads /etc/os-release and uname's fields.
#include "common/text.h"
#include "platform/log.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const size_t cut = size / 3;
    const std::string line = DebugLog_SystemVersion(in, in.substr(0, cut), in.substr(cut, cut));
    // The head is one line of printable UTF-8 whatever the inputs hold.
    if (!Text_IsValidUtf8(line) || line.find('\n') != std::string::npos || line.size() > 300)
        std::abort();
    return 0;
}
