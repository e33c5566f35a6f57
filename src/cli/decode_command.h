// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli decode FILE [--json]: how the program reads one message
// file, for users' scripts and for differential tests.
#pragma once

#include <string>

// Returns the exit status: 0 done, 1 the file cannot be read or parsed.
int Cli_Decode(const std::string& file, bool json);
