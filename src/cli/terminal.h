// Reading a secret from the user's terminal for the command-line front.
#pragma once

#include <string>

// Writes `prompt` to /dev/tty and reads one line there with echo off. False
// when the process has no terminal. A trailing CR is dropped.
bool Cli_ReadPasswordFromTerminal(const std::string& prompt, std::string* password);

// The POP3 password of account `name` for `command` ("check", "delete"): one
// line of standard input with `fromStdin`, else asked on the terminal.
// True with the password; false when none was given or there is no terminal
// (said on stderr).
bool Cli_AskPop3Password(const std::string& name, bool fromStdin, const char* command,
                         std::string* password);
