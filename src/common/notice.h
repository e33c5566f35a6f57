// SPDX-License-Identifier: GPL-3.0-or-later
// What a layer below the windows has to tell the user. Those layers show
// nothing themselves: they hand notices to their caller, which shows them
// (a box in the tray program, one line on standard error in the command
// line). Each is also in the debug log by then.
#pragma once

#include <string>
#include <vector>

enum NOTICE_KIND { NOTICE_ERROR, NOTICE_WARNING, NOTICE_INFO };

struct NOTICE {
    std::string caption;
    std::string text;
    NOTICE_KIND kind = NOTICE_ERROR;
};
using NOTICES = std::vector<NOTICE>;
