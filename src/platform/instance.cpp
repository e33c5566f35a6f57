// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/instance.h"

#include "platform/paths.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

int g_lockFd = -1;

int _openLock() {
    const std::string path = Instance_LockPath();
    Paths_EnsureDir(Paths_DirName(path));
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

uint64_t _fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace

std::string Instance_LockPath() {
    return Paths_RegistryFile() + ".lock";
}

std::string Instance_SocketPath() {
    char name[40];
    std::snprintf(name, sizeof name, "iw-%016llx.sock",
                  static_cast<unsigned long long>(_fnv1a(Paths_RegistryFile())));
    std::string dir = Paths_RuntimeDir();
    constexpr size_t kMax = sizeof(sockaddr_un::sun_path) - 1;
    if (dir.size() + 1 + std::char_traits<char>::length(name) > kMax) {
        char uid[32];
        std::snprintf(uid, sizeof uid, "/tmp/inboxwarden-%u", static_cast<unsigned>(getuid()));
        dir = uid;
    }
    Paths_EnsureDir(dir);
    return dir + "/" + name;
}

int Instance_Acquire(int* err) {
    if (g_lockFd >= 0) return INSTANCE_ACQUIRED;
    const int fd = _openLock();
    if (fd < 0) {
        if (err) *err = errno;
        return INSTANCE_ERROR;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) return INSTANCE_HELD;
        if (err) *err = e;
        return INSTANCE_ERROR;
    }
    g_lockFd = fd;
    return INSTANCE_ACQUIRED;
}

void Instance_Release() {
    if (g_lockFd < 0) return;
    ::flock(g_lockFd, LOCK_UN);
    ::close(g_lockFd);
    g_lockFd = -1;
}

bool Instance_WaitReleased(int timeoutMs) {
    const int fd = _openLock();
    if (fd < 0) return true; // no lock file can be made: nobody can hold it either
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool freed = false;
    for (;;) {
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            ::flock(fd, LOCK_UN);
            freed = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
    return freed;
}
