// inboxwarden-cli: the headless front of Inboxwarden.
#include "cli/check_command.h"
#include "cli/decode_command.h"
#include "cli/delete_command.h"
#include "cli/send_command.h"
#include "cli/session.h"
#include "cli/settings_commands.h"
#include "cli/tnef_command.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printUsage(FILE* out) {
    std::fputs("Usage: inboxwarden-cli [--help] [--version] [--profile:FILE] COMMAND [ARGS]\n"
               "\n"
               "The command-line front of Inboxwarden, the POP3 mail checker.\n"
               "\n"
               "Options:\n"
               "  --help       show this text and exit\n"
               "  --version    show the version and exit\n"
               "  --profile:FILE  work on this profile instead of the default one\n"
               "\n"
               "Commands:\n"
               "  decode FILE [--json]  parse a message file and print its parts, record\n"
               "                        fields, display text and attachments\n"
               "  accounts              list the accounts\n"
               "  account add|set|rename|delete ...  change an account (see 'account')\n"
               "  options [set NAME=VALUE...]  list or change the global options\n"
               "  box ACCOUNT [--json]  list an account's message records\n"
               "  profile export|import FILE  write or read a whole configuration\n"
               "  send --account NAME --to ADDRESSES --subject TEXT [...] < body.txt\n"
               "                        send a message through the account's outgoing\n"
               "                        server ('send --help' lists the options)\n"
               "  check ACCOUNT|All|AllInc [--json] [--password-stdin]\n"
               "                        check accounts now and print their results\n"
               "  delete ACCOUNT ID... [--password-stdin]\n"
               "                        delete these messages from the account's server now\n"
               "  tnef list|extract FILE [DIR] [--json]\n"
               "                        list or unpack the files packed in a winmail.dat\n",
               out);
}

int run(const std::string& profile, int argc, char** argv) {
    const char* cmd = argv[1];
    if (std::strcmp(cmd, "decode") == 0) return Cli_Decode(argc - 2, argv + 2);
    if (std::strcmp(cmd, "accounts") == 0) return Cli_Accounts(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "account") == 0) return Cli_Account(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "options") == 0) return Cli_Options(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "box") == 0) return Cli_Box(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "profile") == 0) return Cli_Profile(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "send") == 0) return Cli_Send(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "check") == 0) return Cli_Check(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "delete") == 0) return Cli_Delete(profile, argc - 2, argv + 2);
    if (std::strcmp(cmd, "tnef") == 0) return Cli_Tnef(argc - 2, argv + 2);
    std::fprintf(stderr, "inboxwarden-cli: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string profile;
    if (argc >= 2 && Cli_ProfileSwitch(argv[1], &profile)) {
        if (profile.empty()) {
            std::fputs("inboxwarden-cli: --profile: needs a file\n", stderr);
            return 2;
        }
        --argc;
        ++argv;
    }
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("inboxwarden-cli %s\n", IW_VERSION);
        return 0;
    }
    const int rc = run(profile, argc, argv);
    // A command's save comes as its session ends, after its own result.
    return rc == 0 && CliSession::SaveFailed() ? 1 : rc;
}
