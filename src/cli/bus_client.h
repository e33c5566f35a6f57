// SPDX-License-Identifier: GPL-3.0-or-later
// The commands that work beside the running program: while it holds the
// store they ask it on the session bus (src/app/org.inboxwarden.Inboxwarden.xml)
// instead of opening the store, and print what the store path prints. The
// bus calls are in a module loaded only then (cli/bus_module.h): QtCore and
// QtDBus, no window library, and nothing of Qt for any other command.
#pragma once

#include "cli/output.h"

#include <string>
#include <vector>

// Whether the tray program holds this store's lock right now.
bool CliBus_ProgramRuns();

// Each prints what went wrong ("inboxwarden-cli: ...") and returns the
// command's exit status. `profile` is the --profile given ("" none): the
// program must run on that one.
int CliBus_Accounts(const std::string& profile);
int CliBus_Box(const std::string& profile, const std::string& account, bool json);
int CliBus_Check(const std::string& profile, const std::string& what, bool json);
int CliBus_Delete(const std::string& profile, const std::string& account,
                  const std::vector<std::string>& args, bool hex);
int CliBus_Mark(const std::string& profile, const std::string& account,
                const std::vector<std::string>& args, bool hex, const std::string& state);
