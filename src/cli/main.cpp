// inboxwarden-cli: the headless front of Inboxwarden.
#include "cli/decode_command.h"

#include <cstdio>
#include <cstring>

namespace {

void printUsage(FILE* out) {
    std::fputs("Usage: inboxwarden-cli [--help] [--version] COMMAND [ARGS]\n"
               "\n"
               "The command-line front of Inboxwarden, the POP3 mail checker.\n"
               "\n"
               "Options:\n"
               "  --help       show this text and exit\n"
               "  --version    show the version and exit\n"
               "\n"
               "Commands:\n"
               "  decode FILE [--json]  parse a message file and print its parts, record\n"
               "                        fields, display text and attachments\n",
               out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("inboxwarden-cli %s\n", IW_VERSION);
        return 0;
    }
    if (std::strcmp(argv[1], "decode") == 0) return Cli_Decode(argc - 2, argv + 2);
    std::fprintf(stderr, "inboxwarden-cli: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return 2;
}
