// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/files.h"

#include "common/status.h"
#include "common/text.h"
#include "platform/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string Files_SafeName(std::string_view name, unsigned index) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string out(Text_CutUtf8(name, FILES_NAME_MAX));
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '_';
    }
    if (out.empty() || out == "." || out == "..") {
        char made[32];
        std::snprintf(made, sizeof made, "ath%05u.dat", index);
        out = made;
    }
    return out;
}

namespace {

struct LastError {
    int err = 0;
    std::string path;
};
thread_local LastError t_lastError;

} // namespace

int Files_LastError(std::string* path) {
    if (path) *path = t_lastError.path;
    return t_lastError.err;
}

FILES_WRITER::~FILES_WRITER() {
    Files_Abort(this);
}

uint32_t Files_Begin(FILES_WRITER* w, const std::string& path) {
    Files_Abort(w);
    t_lastError = {};
    w->failed = false;
    w->targetPath = path;
    const size_t slash = path.rfind('/');
    // The temporary name is short so that a target name of full length still
    // leaves room for it in the same folder.
    w->tempPath =
        (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".iw-tmp-XXXXXX";
    const int fd = mkostemp(w->tempPath.data(), O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        DebugLog_Write("Files_Begin: cannot create a file beside \"%s\": %s\n", path.c_str(),
                       std::strerror(e));
        t_lastError = {e, path};
        w->tempPath.clear();
        errno = e;
        return ERR_CREATE;
    }
    fchmod(fd, 0600);
    w->fd = fd;
    return 0;
}

uint32_t Files_Write(FILES_WRITER* w, const void* data, size_t size) {
    if (w->fd < 0 || w->failed) return ERR_CREATE;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(w->fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            t_lastError = {n < 0 ? errno : EIO, w->targetPath};
            DebugLog_Write("Files_Write: writing \"%s\" failed: %s\n", w->targetPath.c_str(),
                           n < 0 ? std::strerror(errno) : "no progress");
            w->failed = true;
            return ERR_CREATE;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

uint32_t Files_Commit(FILES_WRITER* w) {
    if (w->fd < 0) return ERR_CREATE;
    bool ok = !w->failed && fsync(w->fd) == 0;
    ok = (close(w->fd) == 0) && ok;
    w->fd = -1;
    if (ok && rename(w->tempPath.c_str(), w->targetPath.c_str()) != 0) ok = false;
    if (!ok) {
        // A failed write was recorded when it happened.
        if (!w->failed) t_lastError = {errno, w->targetPath};
        DebugLog_Write("Files_Commit: \"%s\" not written: %s\n", w->targetPath.c_str(),
                       std::strerror(errno));
        unlink(w->tempPath.c_str());
        w->tempPath.clear();
        return ERR_CREATE;
    }
    w->tempPath.clear();
    // The rename is durable only once the folder itself is on disk.
    const size_t slash = w->targetPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : w->targetPath.substr(0, slash + 1);
    const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return 0;
}

void Files_Abort(FILES_WRITER* w) {
    if (w->fd >= 0) {
        close(w->fd);
        w->fd = -1;
    }
    if (!w->tempPath.empty()) {
        unlink(w->tempPath.c_str());
        w->tempPath.clear();
    }
}

uint32_t Files_WriteWhole(const std::string& path, std::string_view data) {
    FILES_WRITER w;
    if (const uint32_t rc = Files_Begin(&w, path)) return rc;
    if (const uint32_t rc = Files_Write(&w, data.data(), data.size())) return rc;
    return Files_Commit(&w);
}
