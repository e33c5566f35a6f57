// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli send: one message through an account's outgoing server,
// composed and sent by the same modules as the compose window, without a
// display.
#pragma once

#include <string>
#include <vector>

// send, as parsed.
struct CLI_SEND_ARGS {
    std::string account, to, cc, bcc, subject, log;
    bool passwordStdin = false;
    std::vector<std::string> attach; // in the order given
};

// The account comes from the settings of `profile` (empty: the default one),
// which are left unchanged. Returns the exit status: 0 sent to every
// recipient, 3 sent but some recipients were refused (listed on stderr), 1
// not sent (the reason on stderr).
int Cli_Send(const std::string& profile, const CLI_SEND_ARGS& args);
