// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli check: the program's check engine and queue run once,
// headless, on the same store and profile as the program.
#pragma once

#include <string>

// `account` is an account, All or AllInc.
// Exit status: 0 every checked account succeeded (or found its server
// unchanged), 1 an account failed or nothing could be checked, 2 bad usage.
int Cli_Check(const std::string& profile, const std::string& account, bool json,
              bool passwordStdin);
