// Reading a secret from the user's terminal for the command-line front.
#pragma once

#include <string>

// Writes `prompt` to /dev/tty and reads one line there with echo off. False
// when the process has no terminal. A trailing CR is dropped.
bool Cli_ReadPasswordFromTerminal(const std::string& prompt, std::string* password);
