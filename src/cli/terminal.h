// SPDX-License-Identifier: GPL-3.0-or-later
// The user's terminal for the command-line front: reading a secret, and
// writing text that came from mail or a server.
#pragma once

#include "common/datetime.h"

#include <cstdint>
#include <string>
#include <string_view>

// Writes `prompt` to /dev/tty and reads one line there with echo off. False
// when the process has no terminal. A trailing CR is dropped.
bool Cli_ReadPasswordFromTerminal(const std::string& prompt, std::string* password);

// The POP3 password of account `name` for `command` ("check", "delete"): one
// line of standard input with `fromStdin`, else asked on the terminal.
// True with the password; false when none was given or there is no terminal
// (said on stderr).
bool Cli_AskPop3Password(const std::string& name, bool fromStdin, const char* command,
                         std::string* password);

// `text` safe to print on a terminal: control bytes (C0 but TAB, DEL, and
// the UTF-8 forms of C1, which some terminals obey as escapes) become
// "\xHH" with the C1 ones as their two bytes. This is for reading, not
// parsing: --json gives the exact texts. With `lines`, LF and a CR before it
// are kept. Invalid UTF-8 passes as it is: a terminal shows it as
// replacement characters.
std::string Cli_Printable(std::string_view text, bool lines = false);

// A date record as the command line prints it: "2024-01-31 13:05:00".
std::string Cli_Date(const DATETIME& d);

// Shows the message boxes of the layers below as one line each on standard
// error ("inboxwarden-cli: " and the text, its line breaks made blanks),
// without the window's caption; caption and text go to the debug log.
// Questions get their default answer.
void Cli_InstallMessageHandler();

// Prints "inboxwarden-cli: <what>: <reason>" for status `rc` in words (the
// code itself goes to the debug log).
void Cli_Failed(const std::string& what, uint32_t rc);

// Why a profile file could not be read (PROFILE_E_* and the system's reason).
std::string Cli_ProfileProblem(uint32_t rc);

// The reason the last system call failed, in words ("No space left on
// device"), or a pointer to the debug log when errno is not set.
std::string Cli_LastSystemError();
