// inboxwarden-cli decode FILE [--json]: how the program reads one message
// file, for users' scripts and for differential tests.
#pragma once

// `args` are the arguments after "decode". Returns the exit status: 0 done,
// 1 the file cannot be read or parsed, 2 bad usage.
int Cli_Decode(int argc, char** args);
