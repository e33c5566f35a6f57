// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli delete: removes messages of an account from its server now
// (fast delete), on the same store and profile as the program.
#pragma once

#include <string>
#include <vector>

// Prints each id
// the server confirmed deleted on its own line; what went wrong goes to
// stderr. Exit status: 0 every id was deleted, 1 some or all were not (they
// stay marked, so the next check deletes them), 2 bad usage.
// With `hex` the ids are the hex digits of their bytes (any id, also one that
// is not UTF-8, can be named so) and are printed as given.
int Cli_Delete(const std::string& profile, const std::string& account,
               const std::vector<std::string>& ids, bool hex, bool passwordStdin);
