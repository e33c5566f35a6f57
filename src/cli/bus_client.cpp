// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/bus_client.h"

#include "cli/bus_module.h"
#include "cli/terminal.h"
#include "platform/instance.h"
#include "platform/paths.h"
#include "settings/account.h"

#include <cstdio>
#include <dlfcn.h>

namespace {

// The bus module, or null with what went wrong said on stderr. Loaded once
// and never unloaded: Qt keeps its own statics until the process ends.
const CLIBUS_MODULE* module() {
    const std::string path = Paths_PluginFile(CLIBUS_FILE);
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    const CLIBUS_MODULE* m = nullptr;
    std::string why;
    if (!lib) {
        why = dlerror();
    } else if (auto entry = reinterpret_cast<CLIBUS_ENTRY_FN>(dlsym(lib, CLIBUS_ENTRY)); !entry) {
        why = dlerror();
    } else if (m = entry(); !m || m->version != CLIBUS_VERSION) {
        why = path + " is of another build (version " + std::to_string(m ? m->version : 0) +
              ", not " + std::to_string(CLIBUS_VERSION) + ")";
        m = nullptr;
    }
    if (!m)
        std::fprintf(stderr, "inboxwarden-cli: cannot reach the running Inboxwarden: %s\n",
                     Cli_Printable(why).c_str());
    return m;
}

CLIBUS_TARGET target(const std::string& profile) {
    return {Paths_RegistryFile(), profile};
}

int failed(const std::string& error) {
    if (!error.empty()) std::fprintf(stderr, "inboxwarden-cli: %s\n", Cli_Printable(error).c_str());
    return 1;
}

} // namespace

bool CliBus_ProgramRuns() {
    const int lock = Instance_Acquire();
    if (lock == INSTANCE_ACQUIRED) Instance_Release();
    return lock == INSTANCE_HELD;
}

int CliBus_Accounts(const std::string& profile) {
    const CLIBUS_MODULE* m = module();
    if (!m) return 1;
    std::vector<CLI_ACCOUNT_LINE> lines;
    std::string error;
    if (!m->accounts(target(profile), &lines, &error)) return failed(error);
    Cli_PrintAccounts(lines);
    return 0;
}

int CliBus_Box(const std::string& profile, const std::string& account, bool json) {
    const CLIBUS_MODULE* m = module();
    if (!m) return 1;
    std::vector<CLI_BOX_ROW> rows;
    std::string error;
    if (!m->box(target(profile), account, &rows, &error)) return failed(error);
    Cli_PrintBox(rows, json);
    return 0;
}

int CliBus_Check(const std::string& profile, const std::string& what, bool json) {
    const CLIBUS_MODULE* m = module();
    if (!m) return 1;
    std::vector<CLI_CHECKED> out;
    std::string error;
    if (!m->check(target(profile), what, &out, &error)) return failed(error);
    int status = 0;
    for (const CLI_CHECKED& c : out)
        if (c.checkResult == CR_TIMEOUT || c.checkResult == CR_FAILED) status = 1;
    Cli_PrintChecked(out, json);
    if (out.empty()) {
        std::fprintf(stderr, "inboxwarden-cli: no account was checked\n");
        status = 1;
    }
    return status;
}

int CliBus_Delete(const std::string& profile, const std::string& account,
                  const std::vector<std::string>& args, bool hex) {
    std::vector<std::string> ids;
    if (!Cli_IdsFromArgs(args, hex, &ids)) return 2;
    const CLIBUS_MODULE* m = module();
    if (!m) return 1;
    std::vector<std::string> deleted, notes;
    std::string error;
    if (!m->erase(target(profile), account, ids, &deleted, &notes, &error)) return failed(error);
    return Cli_PrintDeleted(args, hex, deleted, notes);
}

int CliBus_Mark(const std::string& profile, const std::string& account,
                const std::vector<std::string>& args, bool hex, const std::string& state) {
    std::vector<std::string> ids;
    if (!Cli_IdsFromArgs(args, hex, &ids)) return 2;
    const CLIBUS_MODULE* m = module();
    if (!m) return 1;
    std::vector<std::string> missing;
    std::string error;
    if (!m->mark(target(profile), account, ids, state, &missing, &error)) return failed(error);
    return Cli_PrintMarked(account, args, hex, missing);
}
