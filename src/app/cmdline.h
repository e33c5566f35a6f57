// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command-line switches, read from argv. A switch counts only
// at the start of an argument: "/uninstall" and "/delorig" exactly as
// written, the others ignoring ASCII letter case. A value is the rest of its
// argument, trimmed of blanks and tabs and never cut at a '/', so absolute
// paths survive. "/delorig" counts only as the first argument, so a path
// that merely contains it can never start the removal side.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CMDLINE {
    bool uninstall = false;               // "/uninstall": removal mode, nothing else is looked at
    bool delorig = false;                 // "/delorig" as argv[1]: the removal's temporary copy
    std::vector<std::string> delorigArgs; // the arguments after it
    std::string profile;                  // "/profile:" (empty when absent or empty)
    std::string defprofile;               // "/defprofile:"
    bool hasCheck = false;                // "/check:" given (with a non-empty value)
    std::string check;                    // account name, "All" or "AllInc"
    std::string smtp;                     // "/smtp:"
    std::string logfile;                  // "/logfile:"
    int recovery = -1;                    // "/recovery:": 1 'Y', 0 'N', 1 other; -1 absent
    bool help = false;                    // "--help" or "-h"
    bool version = false;                 // "--version"
    std::vector<std::string> ignored;     // arguments that are no switch
};

// Longest value kept; longer values are refused as a whole (listed in
// `ignored`) rather than cut into a different path or name.
inline constexpr size_t CMDLINE_MAX_VALUE = 4095;

// Parses argv[1..argc-1]. Later occurrences of a switch replace earlier ones.
CMDLINE CmdLine_Parse(int argc, const char* const* argv);

// The usage text printed for "--help".
std::string CmdLine_Usage(std::string_view program);
