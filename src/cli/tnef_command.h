// inboxwarden-cli tnef list|extract FILE [DIR]: the files packed in a
// winmail.dat attachment, for users' scripts and for differential tests.
#pragma once

// `args` are the arguments after "tnef". Returns the exit status: 0 done,
// 1 the file is not TNEF, is damaged or a file cannot be written, 2 bad usage.
int Cli_Tnef(int argc, char** args);
