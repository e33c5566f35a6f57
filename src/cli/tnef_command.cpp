// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/tnef_command.h"
#include "cli/terminal.h"

#include "message/tnef.h"
#include "platform/user_message.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

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

int Cli_Tnef(const std::string& verb, const std::string& file, const std::string& dir, bool json) {
    std::vector<TNEF_NAME> names;
    TNEF_PROBLEM problem;
    uint32_t rc = 0;
    if (verb == "list") {
        rc = TNEF_list(file, &names, &problem);
    } else {
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            std::fprintf(stderr, "inboxwarden-cli: cannot make the folder '%s': %s\n",
                         Cli_Printable(dir).c_str(), std::strerror(errno));
            return 1;
        }
        rc = TNEF_dir(file, dir, &names, &problem);
    }
    if (!problem.text.empty()) UserMsg_Show(problem.caption, problem.text, UM_OK | UM_ICONWARNING);
    printNames(names, json);
    return rc == 0 ? 0 : 1;
}
