// inboxwarden-cli send: one message through an account's outgoing server,
// composed and sent by the same modules as the compose window, without a
// display.
#pragma once

#include <string>

// `args` are the arguments after "send"; the account comes from the settings
// of `profile` (empty: the default one), which are left unchanged. Returns the exit status: 0 sent
// to every recipient, 3 sent but some recipients were refused (listed on stderr), 1 not sent (the
// reason on stderr), 2 bad usage.
int Cli_Send(const std::string& profile, int argc, char** args);
