// SPDX-License-Identifier: GPL-3.0-or-later
// inboxwarden-cli commands on the settings: the account table, a message
// box and profile files. Each runs on the same store and profile file as the
// program: the profile given with --profile:FILE (or the default one) is
// loaded first and, when the command changed something, saved back.
#pragma once

#include <string>
#include <vector>

// Arguments after the command name. Results are exit statuses: 0 done,
// 1 failed, 2 bad usage.
int Cli_Accounts(const std::string& profile);

// account add|set|rename|delete, as parsed.
struct CLI_ACCOUNT_ARGS {
    std::string verb; // "add", "set", "rename", "delete"
    std::string name, newName;
    std::vector<std::string> fields; // FIELD=VALUE
    bool chkPasswordStdin = false;   // read first
    bool sendPasswordStdin = false;
};
int Cli_Account(const std::string& profile, const CLI_ACCOUNT_ARGS& args);
// The fields `account add|set` takes, for its help.
std::string Cli_AccountFieldsHelp();

// Lists the global options, or sets `assignments` (NAME=VALUE) when given.
int Cli_Options(const std::string& profile, const std::vector<std::string>* assignments);
// `box --json` gives each record's id twice: "MsgId" as text (an id that is
// not UTF-8 is shown read as Windows-1252) and "MsgIdHex", its exact bytes
// in hex, which `delete --hex` takes.
int Cli_Box(const std::string& profile, const std::string& account, bool json);
// `verb` "export" or "import".
// `withPasswords` (export): the keyring's passwords go into the file too.
int Cli_Profile(const std::string& profile, const std::string& verb, const std::string& file,
                bool withPasswords = false);

// The value of a "--profile:" or "/profile:" switch (ASCII case ignored,
// value trimmed of blanks and tabs) when `arg` is one; nullopt-like false
// otherwise.
bool Cli_ProfileSwitch(const char* arg, std::string* value);
