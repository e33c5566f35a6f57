// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/selfremove.h"

#include "common/status.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr int kSyncFd = 3;
constexpr int kProcessFd = 4;

std::string _realPath(const std::string& p) {
    char buf[PATH_MAX];
    return ::realpath(p.c_str(), buf) ? std::string(buf) : std::string();
}

std::string _realHome() {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return "";
    const std::string r = _realPath(home);
    return r == "/" ? "" : r; // a home of "/" would put everything inside it
}

bool _inside(const std::string& path, const std::string& dir) {
    return !dir.empty() && path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
           path[dir.size()] == '/';
}

// An absolute path without "." or ".." levels or empty levels.
bool _plain(const std::string& p) {
    if (p.empty() || p[0] != '/' || p.back() == '/') return false;
    size_t i = 1;
    while (i <= p.size()) {
        size_t e = p.find('/', i);
        if (e == std::string::npos) e = p.size();
        const std::string_view level(p.data() + i, e - i);
        if (level.empty() || level == "." || level == "..") return false;
        i = e + 1;
    }
    return true;
}

// The file as it really is on disk: its folder resolved, its own name kept
// (a link is the link). "" when the folder does not resolve inside $HOME.
std::string _resolvedInHome(const std::string& path) {
    if (!_plain(path)) return "";
    const size_t slash = path.rfind('/');
    const std::string dir = _realPath(path.substr(0, slash ? slash : 1));
    const std::string home = _realHome();
    if (dir.empty()) return "";
    const std::string r = dir + path.substr(slash);
    return _inside(r, home) ? r : "";
}

bool _listed(const std::vector<std::string>& list, const std::string& path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

// A pidfd, or failing that a pid (a copy started by hand), waited on until
// that process has ended.
void _waitProcess(const std::string& arg) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(arg.c_str(), &end, 10);
    if (errno || end == arg.c_str() || *end || v < 0 || v > INT_MAX) return;
    int fd = -1;
    char link[64] = {};
    const std::string self = "/proc/self/fd/" + std::to_string(v);
    const ssize_t n = ::readlink(self.c_str(), link, sizeof link - 1);
    if (n > 0 && std::string_view(link, static_cast<size_t>(n)) == "anon_inode:[pidfd]")
        fd = static_cast<int>(v);
    else if (v > 0)
        fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(v), 0));
    if (fd < 0) return; // no such process: it has ended
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    ::close(fd);
}

} // namespace

std::string SelfRemove_ManifestPath(const std::string& exePath) {
    std::string dir = Paths_DirName(exePath);
    const size_t slash = dir.rfind('/');
    const std::string prefix = slash == std::string::npos ? "." : dir.substr(0, slash);
    return prefix + "/lib/inboxwarden/install-manifest";
}

uint32_t SelfRemove_ReadManifest(const std::string& exePath, INSTALL_MANIFEST* out,
                                 std::string* why) {
    auto fail = [why](uint32_t rc, const std::string& text) {
        if (why) *why = text;
        return rc;
    };
    *out = INSTALL_MANIFEST{};
    const std::string exe = _realPath(exePath);
    if (exe.empty()) return fail(ERR_NOT_FOUND, exePath + " cannot be resolved");
    const std::string path = SelfRemove_ManifestPath(exe);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return fail(ERR_NOT_FOUND, exe + " was not installed by the Inboxwarden installer");
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid() || _resolvedInHome(path).empty())
        return fail(ERR_BADARG, path + " is not a file of yours in your home folder");
    std::ifstream in(path);
    std::string line;
    out->path = path;
    while (std::getline(in, line)) {
        if (line.rfind("file ", 0) == 0 && _plain(line.substr(5)))
            out->files.push_back(line.substr(5));
        else if (line.rfind("dir ", 0) == 0 && _plain(line.substr(4)))
            out->dirs.push_back(line.substr(4));
    }
    // The manifest names the executable as the installer wrote it ($HOME not
    // resolved); the running one is resolved.
    const bool lists = std::any_of(out->files.begin(), out->files.end(), [&exe](const auto& f) {
        return _resolvedInHome(f) == exe || _realPath(f) == exe;
    });
    if (!lists) return fail(ERR_BADARG, path + " does not list " + exe);
    return 0;
}

bool SelfRemove_DeleteListed(const INSTALL_MANIFEST& m, const std::string& path) {
    if (!_listed(m.files, path)) {
        DebugLog_Write("Removal: %s is not in the install manifest; kept\n", path.c_str());
        return false;
    }
    const std::string real = _resolvedInHome(path);
    struct stat st {};
    if (real.empty() || ::lstat(real.c_str(), &st) != 0) return ::access(path.c_str(), F_OK) != 0;
    if (S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        DebugLog_Write("Removal: %s is no file of this user; kept\n", real.c_str());
        return false;
    }
    return ::unlink(real.c_str()) == 0 || errno == ENOENT;
}

void SelfRemove_RemoveEmptyDirs(const INSTALL_MANIFEST& m) {
    std::vector<std::string> dirs = m.dirs;
    std::sort(dirs.begin(), dirs.end(),
              [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& d : dirs) {
        const std::string real = _resolvedInHome(d);
        struct stat st {};
        if (real.empty() || ::lstat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        ::rmdir(real.c_str()); // only an empty one goes
    }
}

uint32_t SelfRemove_HandOver(const std::string& copyFrom, const std::string& exePath,
                             const std::string& pluginPath, int timeoutMs, pid_t* copyPid) {
    if (copyPid) *copyPid = -1;
    const char* tmp = std::getenv("TMPDIR");
    std::string copy = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/shdXXXXXX";
    const int out = ::mkostemp(copy.data(), O_CLOEXEC);
    if (out < 0) return ERR_FAILED;
    const int in = ::open(copyFrom.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    bool copied = in >= 0 && ::fstat(in, &st) == 0;
    for (off_t done = 0; copied && done < st.st_size;) {
        const ssize_t n = ::sendfile(out, in, nullptr, static_cast<size_t>(st.st_size - done));
        if (n <= 0) copied = false;
        done += n > 0 ? n : 0;
    }
    if (in >= 0) ::close(in);
    copied = copied && ::fchmod(out, 0700) == 0;
    if (::close(out) != 0) copied = false;
    if (!copied) {
        ::unlink(copy.c_str());
        return ERR_FAILED;
    }
    int sync[2];
    const int self = static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0));
    if (self < 0 || ::pipe2(sync, O_CLOEXEC) != 0) {
        if (self >= 0) ::close(self);
        ::unlink(copy.c_str());
        return ERR_FAILED;
    }
    pid_t pid = -1;
    const int err = Process_SpawnDetached(
        {copy, "/delorig", std::to_string(kProcessFd), exePath, pluginPath}, {sync[1], self}, &pid);
    ::close(sync[1]);
    ::close(self);
    // Started (or not): the file may go, the running copy keeps its inode.
    ::unlink(copy.c_str());
    if (err != 0) {
        DebugLog_Write("Removal: the temporary copy did not start (%s)\n", std::strerror(err));
        ::close(sync[0]);
        return ERR_FAILED;
    }
    if (copyPid) *copyPid = pid;
    pollfd p{sync[0], POLLIN, 0};
    int rc;
    while ((rc = ::poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    char b = 0;
    const bool answered = rc == 1 && ::read(sync[0], &b, 1) == 1;
    ::close(sync[0]);
    return answered ? 0 : ERR_TIMEOUT;
}

int SelfRemove_DelOrig(const std::vector<std::string>& args) {
    struct stat st {};
    if (::fstat(kSyncFd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(kSyncFd, &b, 1);
        ::close(kSyncFd);
    }
    if (args.empty()) return 0;
    _waitProcess(args[0]);
    if (args.size() < 2) return 0;
    INSTALL_MANIFEST m;
    std::string why;
    if (SelfRemove_ReadManifest(args[1], &m, &why) != 0) {
        std::fprintf(stderr, "inboxwarden: nothing removed: %s\n", why.c_str());
        return 0;
    }
    // The manifest names the files as the installer wrote them; the
    // arguments may name them resolved.
    auto entryOf = [&m](const std::string& arg) {
        const std::string real = _realPath(arg);
        for (const std::string& f : m.files)
            if (f == arg || (!real.empty() && _realPath(f) == real)) return f;
        return arg;
    };
    SelfRemove_DeleteListed(m, entryOf(args[1]));
    if (args.size() >= 3) SelfRemove_DeleteListed(m, entryOf(args[2]));
    [[maybe_unused]] const int cd = ::chdir("/"); // the folders may go
    SelfRemove_DeleteListed(m, entryOf(m.path));
    SelfRemove_RemoveEmptyDirs(m);
    return 0;
}
