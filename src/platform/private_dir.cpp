// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/private_dir.h"

#include "common/status.h"
#include "platform/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

std::mutex g_mu;
std::string g_dir;
bool g_atExit = false;

// mkdtemp in `base`, when it is an absolute folder that exists.
std::string makeIn(const char* base) {
    if (!base || base[0] != '/') return {};
    struct stat st {};
    if (stat(base, &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    std::string tmpl = std::string(base);
    if (tmpl.back() != '/') tmpl += '/';
    tmpl += "inboxwarden-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) return {};
    return std::string(buf.data());
}

void removeTree(const std::string& path) {
    std::error_code ec;
    // remove_all removes links themselves and never descends through them.
    std::filesystem::remove_all(path, ec);
    if (ec)
        DebugLog_Write("PrivateDir: \"%s\" not removed: %s\n", path.c_str(), ec.message().c_str());
}

bool inside(const std::string& path, const std::string& dir) {
    return !dir.empty() && path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/' && path.find("/..") == std::string::npos;
}

} // namespace

uint32_t PrivateDir_Process(std::string* path) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (g_dir.empty()) {
        const char* const bases[] = {std::getenv("XDG_RUNTIME_DIR"), std::getenv("TMPDIR"), "/tmp"};
        for (const char* base : bases) {
            g_dir = makeIn(base);
            if (!g_dir.empty()) break;
        }
        if (g_dir.empty()) {
            DebugLog_Write("PrivateDir: no private folder could be made: %s\n",
                           std::strerror(errno));
            return ERR_CREATE;
        }
        if (!g_atExit) {
            g_atExit = true;
            std::atexit(PrivateDir_RemoveAll);
        }
    }
    *path = g_dir;
    return 0;
}

uint32_t PrivateDir_Make(std::string* path) {
    std::string base;
    if (const uint32_t rc = PrivateDir_Process(&base)) return rc;
    std::string made = makeIn(base.c_str());
    if (made.empty()) return ERR_CREATE;
    *path = std::move(made);
    return 0;
}

void PrivateDir_Remove(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mu);
    if (inside(path, g_dir)) removeTree(path);
}

uint32_t PrivateDir_WriteFile(const std::string& dir, std::string_view name, std::string_view data,
                              std::string* path) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return ERR_BADARG;
    const std::string full = dir + "/" + std::string(name);
    // Whatever stands there (an earlier copy, a planted link) goes first.
    unlink(full.c_str());
    const int fd = open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        DebugLog_Write("PrivateDir: \"%s\" not created: %s\n", full.c_str(), std::strerror(errno));
        return ERR_CREATE;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = close(fd) == 0 && ok;
    if (!ok) {
        DebugLog_Write("PrivateDir: \"%s\" not written: %s\n", full.c_str(), std::strerror(errno));
        unlink(full.c_str());
        return ERR_CREATE;
    }
    if (path) *path = full;
    return 0;
}

void PrivateDir_RemoveAll() {
    std::lock_guard<std::mutex> lock(g_mu);
    if (g_dir.empty()) return;
    removeTree(g_dir);
    g_dir.clear();
}
