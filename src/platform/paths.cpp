// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string homeDir() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

// XDG base folders must be absolute; a relative value is ignored.
std::string xdgDir(const char* var, const char* fallbackUnderHome) {
    if (const char* v = std::getenv(var); v && v[0] == '/') return v;
    return homeDir() + "/" + fallbackUnderHome;
}

} // namespace

std::string Paths_ExeFile() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string Paths_ProgramDir() {
    const std::string exe = Paths_ExeFile();
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

std::string Paths_PluginFile(const char* name) {
    // A test or a user who sets the folder means that one.
    if (const char* dir = std::getenv("INBOXWARDEN_PLUGIN_DIR"); dir && *dir)
        return std::string(dir) + "/" + name;
    const std::string programDir = Paths_ProgramDir();
    const std::string candidates[] = {
        programDir + name,
#ifdef IW_PLUGIN_DIR_FROM_BIN
        programDir + IW_PLUGIN_DIR_FROM_BIN "/" + name,
#endif
        // An installation moved as a whole, whatever libdir this build had.
        programDir + "../lib/inboxwarden/" + name,
#ifdef IW_PLUGIN_DIR_ABSOLUTE
        std::string(IW_PLUGIN_DIR_ABSOLUTE "/") + name,
#endif
    };
    for (const std::string& c : candidates)
        if (access(c.c_str(), R_OK) == 0) return c;
    return candidates[0];
}

std::string Paths_ConfigDir() {
    return xdgDir("XDG_CONFIG_HOME", ".config") + "/inboxwarden";
}
std::string Paths_StateDir() {
    return xdgDir("XDG_STATE_HOME", ".local/state") + "/inboxwarden";
}
std::string Paths_DataDir() {
    return xdgDir("XDG_DATA_HOME", ".local/share") + "/inboxwarden";
}
std::string Paths_RuntimeDir() {
    return xdgDir("XDG_RUNTIME_DIR", ".cache") + "/inboxwarden";
}

std::string Paths_RegistryFile() {
    if (const char* f = std::getenv("INBOXWARDEN_REGISTRY"); f && *f) return f;
    return Paths_ConfigDir() + "/registry.db";
}

int Paths_EnsureDir(const std::string& dir) {
    if (dir.empty()) return EINVAL;
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (const int rc = Paths_EnsureDir(dir.substr(0, slash)); rc != 0) return rc;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    return 0;
}

std::string Paths_DirName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
