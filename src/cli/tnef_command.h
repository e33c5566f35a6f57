// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli tnef list|extract FILE [DIR]: the files packed in a
// winmail.dat attachment, for users' scripts and for differential tests.
#pragma once

#include <string>

// `verb` "list" or "extract" (into `dir`, made when missing). Returns the
// exit status: 0 done, 1 the file is not TNEF, is damaged or a file cannot
// be written.
int Cli_Tnef(const std::string& verb, const std::string& file, const std::string& dir, bool json);
