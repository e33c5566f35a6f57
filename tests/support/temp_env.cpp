// SPDX-License-Identifier: GPL-3.0-or-later
#include "temp_env.h"

#include "process.h"
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace iwtest {
namespace {

struct Sandbox {
    std::string dir;
    pid_t owner;

    Sandbox() : owner(getpid()) {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/iwtest-XXXXXX";
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        dir = tmpl;
        for (const char* sub : {"home", "config", "state", "data", "cache", "runtime"}) {
            fs::create_directories(dir + "/" + sub);
            fs::permissions(dir + "/" + sub, fs::perms::owner_all);
        }
        setenv("HOME", (dir + "/home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir + "/cache").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
        setenv("INBOXWARDEN_REGISTRY", (dir + "/config/registry.db").c_str(), 1);
        // No child may read the runner's standard input (a terminal, say), and
        // a closed 0, 1 or 2 would be taken by the next pipe or socket and
        // handed to children as their standard input or output.
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd)
            if (fd == 0 || fcntl(fd, F_GETFD) < 0) dup2(null, fd);
        if (null > 2) close(null);
    }
    ~Sandbox() {
        // A forked child that exits normally must not remove its parent's sandbox.
        if (getpid() != owner || std::getenv("IW_KEEP_SANDBOX")) return;
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Sandbox& sandbox() {
    static Sandbox s;
    return s;
}

// Set the environment up before main() and before any test's static objects.
[[maybe_unused]] const bool kSandboxReady = (sandbox(), true);

} // namespace

const std::string& SandboxDir() {
    return sandbox().dir;
}

std::string MakeTempDir(const std::string& prefix) {
    std::string tmpl = sandbox().dir + "/" + prefix + "-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void RemoveTree(const std::string& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
}

ScopedTz::ScopedTz(const char* tz) {
    if (const char* old = std::getenv("TZ")) had_ = true, old_ = old;
    setenv("TZ", tz, 1);
    tzset();
}

ScopedTz::~ScopedTz() {
    had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
    tzset();
}

void WithFileSizeLimit(size_t bytes, const std::function<void()>& write) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{bytes, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    write();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

SmallDisk::SmallDisk(const std::string& dir, size_t bytes) : dir_(dir) {
    // The mount goes with this process even when it dies before unmounting.
    static const int unshared =
        unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            ? 0
            : errno;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (unshared != 0)
        why_ = std::string("no mount namespace of its own: ") + std::strerror(unshared);
    else if (mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
        why_ = std::string("cannot mount a small file system: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
    if (ok()) umount2(dir_.c_str(), MNT_DETACH);
}

void SmallDisk::Fill() {
    const int fd =
        open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    static const char block[4096] = {};
    for (size_t chunk = sizeof block; fd >= 0 && chunk > 0; chunk /= 2)
        while (write(fd, block, chunk) == static_cast<ssize_t>(chunk)) {
        }
    if (fd >= 0) close(fd);
}

int RunCli(const std::string& cli, const std::string& profile, const std::string& args,
           const std::string& input, const std::string& dir, std::string* out) {
    const std::string in = dir + "/in";
    WriteFile(in, input);
    const std::string cmd =
        "'" + cli + "' --profile:" + profile + " " + args + " 2>" + dir + "/err";
    return RunShell(cmd, out, in);
}

} // namespace iwtest
