// SPDX-License-Identifier: GPL-3.0-or-later
// What the commands print, in one place: they read the store themselves or
// ask the running program on the bus, and print the same either way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One line of `accounts`.
struct CLI_ACCOUNT_LINE {
    std::string name, server, login;
    int port = 0;
};
void Cli_PrintAccounts(const std::vector<CLI_ACCOUNT_LINE>& accounts);

// One checked account of `check`.
struct CLI_CHECKED {
    std::string name;
    std::string result; // Pop3Acc_ResultName
    int checkResult = 0;
    std::string statusText;
    int32_t newCount = 0, notified = 0, unread = 0, old = 0, quiet = 0;
    int64_t size = 0;
};
void Cli_PrintChecked(const std::vector<CLI_CHECKED>& accounts, bool json);

// One record of `box`; texts are UTF-8 already, the id is its bytes.
struct CLI_BOX_ROW {
    std::string id, from, replyTo, to, subject, sizeText;
    int32_t size = 0, hasAttach = 0, status = 0;
    std::string date; // "" when the message has none
};
void Cli_PrintBox(const std::vector<CLI_BOX_ROW>& rows, bool json);

// `delete` and `mark` name ids as the user gave them: as text, or with
// `hex` as the hex digits of their bytes. The bytes of each argument, in
// order; false (said on stderr) for an argument that is not hex.
bool Cli_IdsFromArgs(const std::vector<std::string>& args, bool hex,
                     std::vector<std::string>* bytes);
// The argument that named these bytes (the first), for what is printed.
std::string Cli_IdAsGiven(const std::vector<std::string>& args, bool hex, const std::string& bytes);

// `delete`'s outcome: the confirmed ids on standard output as given, the
// notes of the server's session on stderr, one line each. 0 when every id
// was deleted, else 1.
int Cli_PrintDeleted(const std::vector<std::string>& args, bool hex,
                     const std::vector<std::string>& deleted,
                     const std::vector<std::string>& notes);

// `mark`'s outcome: each id the box does not hold on stderr. 0 when all
// were there.
int Cli_PrintMarked(const std::string& account, const std::vector<std::string>& args, bool hex,
                    const std::vector<std::string>& missing);
