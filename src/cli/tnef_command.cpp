#include "cli/tnef_command.h"

#include "message/tnef.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

void usage(FILE* out) {
    std::fputs("Usage: inboxwarden-cli tnef list FILE [--json]\n"
               "       inboxwarden-cli tnef extract FILE [DIR] [--json]\n"
               "\n"
               "list     print the files packed in a TNEF (winmail.dat) file, one a line,\n"
               "         under the names extract writes them as\n"
               "extract  unpack them into DIR (default: the current folder; made when missing)\n"
               "--json   print [{\"name\": as packed, \"file\": as written}, ...] instead\n",
               out);
}

void printNames(const std::vector<TNEF_NAME>& names, bool json) {
    if (!json) {
        // The on-disk names hold no control characters, so they are safe to
        // print to a terminal; the packed names may hold anything.
        for (const TNEF_NAME& n : names)
            std::printf("%s\n", n.disk.c_str());
        return;
    }
    nlohmann::json out = nlohmann::json::array();
    for (const TNEF_NAME& n : names)
        out.push_back({{"name", n.display}, {"file", n.disk}});
    std::puts(out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

} // namespace

int Cli_Tnef(int argc, char** args) {
    bool json = false;
    std::vector<const char*> words;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(args[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(args[i], "--help") == 0) {
            usage(stdout);
            return 0;
        } else {
            words.push_back(args[i]);
        }
    }
    const bool list = words.size() == 2 && std::strcmp(words[0], "list") == 0;
    const bool extract =
        (words.size() == 2 || words.size() == 3) && std::strcmp(words[0], "extract") == 0;
    if (!list && !extract) {
        usage(stderr);
        return 2;
    }
    std::vector<TNEF_NAME> names;
    uint32_t rc = 0;
    if (list) {
        rc = TNEF_list(words[1], &names);
    } else {
        const std::string dir = words.size() == 3 ? words[2] : ".";
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "inboxwarden-cli: cannot make folder '%s': %s\n", dir.c_str(),
                         std::strerror(errno));
            return 1;
        }
        rc = TNEF_dir(words[1], dir, &names);
    }
    printNames(names, json);
    return rc == 0 ? 0 : 1;
}
