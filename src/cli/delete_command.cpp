#include "cli/delete_command.h"

#include "cli/session.h"
#include "cli/terminal.h"
#include "common/status.h"
#include "core/fastdelete.h"
#include "settings/account.h"
#include "settings/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

void usage() {
    std::fputs("Usage: inboxwarden-cli delete ACCOUNT ID... [--hex] [--password-stdin]\n"
               "\n"
               "Deletes the messages with these unique ids from the account's server now and\n"
               "drops their records. Prints the ids the server confirmed; the others stay\n"
               "marked for deletion, so the next check deletes them. A password that is not\n"
               "saved is asked on the terminal, or, with --password-stdin, read as one line\n"
               "of standard input. With --hex every ID is given as the hex digits of its\n"
               "bytes (MsgIdHex of 'box --json'), and printed so; any id can be named so.\n",
               stderr);
}

// The bytes of an id given in hex; false when `hex` is not pairs of hex digits.
bool fromHex(std::string_view hex, std::string* out) {
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.empty() || hex.size() % 2) return false;
    out->clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi << 4 | lo);
    }
    return true;
}

} // namespace

int Cli_Delete(const std::string& profile, int argc, char** args) {
    bool passwordStdin = false, hex = false;
    const char* name = nullptr;
    std::vector<std::string> ids;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(args[i], "--password-stdin") == 0) {
            passwordStdin = true;
        } else if (std::strcmp(args[i], "--hex") == 0) {
            hex = true;
        } else if (std::strcmp(args[i], "--") == 0) {
            for (++i; i < argc; ++i)
                ids.emplace_back(args[i]);
        } else if (args[i][0] == '-' && args[i][1] != '\0') {
            usage();
            return 2;
        } else if (!name) {
            name = args[i];
        } else {
            ids.emplace_back(args[i]);
        }
    }
    if (!name || ids.empty()) {
        usage();
        return 2;
    }
    // Id bytes -> the argument that named them, for the printed confirmations.
    std::map<std::string, std::string> given;
    for (std::string& id : ids) {
        std::string bytes = id;
        if (hex && !fromHex(id, &bytes)) {
            std::fprintf(stderr, "inboxwarden-cli: '%s' is not an id in hex\n", id.c_str());
            return 2;
        }
        given[bytes] = id;
        id = std::move(bytes);
    }

    CliSession session(profile);
    if (!session.ok()) return 1;
    Settings_LoadMessages();

    int status = 1;
    ACCOUNT* acc = Account_Get(name, -1);
    if (!acc) {
        std::fprintf(stderr, "inboxwarden-cli: no account '%s'\n", name);
    } else {
        POP3ACC_HOOKS hooks;
        hooks.askPassword = [&](const ACCOUNT& a, std::string* password) -> uint32_t {
            return Cli_AskPop3Password(a.Name, passwordStdin, "delete", password) ? 0
                                                                                  : ERR_NOT_READY;
        };
        Pop3Acc_SetHooks(hooks);
        FASTDELETE_OPTIONS options;
        options.showBoxes = false;
        FASTPOP3_RESULT result;
        const uint32_t rc = FastDelete_Run(acc, ids, nullptr, options, &result);
        Pop3Acc_SetHooks({});
        for (const std::string& id : result.deleted)
            std::printf("%s\n", given.count(id) ? given[id].c_str() : id.c_str());
        FASTPOP3_SESSION where;
        where.authType = acc->ChkAuthType;
        for (const FASTPOP3_BOX& box : FastPOP3_Boxes(where, result)) {
            std::string text = box.text;
            for (size_t p; (p = text.find('\r')) != std::string::npos;)
                text.erase(p, 1);
            while (!text.empty() && text.back() == '\n')
                text.pop_back();
            std::fprintf(stderr, "%s: %s\n", box.title.c_str(), text.c_str());
        }
        if (rc == ERR_EXISTS)
            std::fprintf(stderr, "inboxwarden-cli: %s is being checked; try again\n", name);
        else if (rc == ERR_NOT_READY)
            std::fprintf(stderr, "inboxwarden-cli: no password for %s\n", name);
        else if (rc != 0 && result.errorText.empty())
            std::fprintf(stderr, "inboxwarden-cli: %s\n", Status_Name(rc));
        // An id named twice on the command line counts once.
        std::vector<std::string> wanted = ids;
        std::sort(wanted.begin(), wanted.end());
        wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
        if (rc == 0 && result.deleted.size() == wanted.size()) status = 0;
    }

    // LastSTAT and the boxes changed: the profile gets them, as at the
    // program's shutdown.
    session.changed();
    return status;
}
