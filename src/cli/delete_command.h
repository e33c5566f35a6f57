// inboxwarden-cli delete: removes messages of an account from its server now
// (fast delete), on the same store and profile as the program.
#pragma once

#include <string>

// Arguments after "delete": ACCOUNT ID... [--hex] [--password-stdin]; with
// --hex the ids are the hex digits of their bytes (any id, also one that is
// not UTF-8, can be named so). Prints each id the server confirmed deleted,
// as it was given, on its own line; what went wrong goes to stderr. Exit
// status: 0 every id was deleted, 1 some or all were not (they stay marked,
// so the next check deletes them), 2 bad usage.
int Cli_Delete(const std::string& profile, int argc, char** args);
