// SPDX-License-Identifier: GPL-3.0-or-later
#include "crash/crash.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 128;
constexpr size_t kAltStack = 64 * 1024;

std::atomic<bool> g_installed{false};
std::atomic<int> g_logFd{-1};
std::atomic<bool> g_reporting{false};
char g_marker[4096];
alignas(16) char g_altStack[kAltStack];

// A fixed line buffer: the handler may not allocate.
struct Line {
    char buf[1024];
    size_t n = 0;
    void add(const char* s) {
        while (s && *s && n < sizeof buf)
            buf[n++] = *s++;
    }
    void addHex(uintptr_t v) {
        char tmp[2 + 2 * sizeof v];
        size_t i = sizeof tmp;
        do {
            tmp[--i] = "0123456789abcdef"[v & 0xF];
            v >>= 4;
        } while (v && i > 2);
        tmp[--i] = 'x';
        tmp[--i] = '0';
        for (; i < sizeof tmp && n < sizeof buf; ++i)
            buf[n++] = tmp[i];
    }
    void flush(int fd) {
        size_t off = 0;
        while (fd >= 0 && off < n) {
            const ssize_t w = write(fd, buf + off, n - off);
            if (w <= 0) break;
            off += static_cast<size_t>(w);
        }
        n = 0;
    }
};

void _handler(int sig) {
    // A second fault inside the report must not loop.
    if (!g_reporting.exchange(true)) {
        const int fd = g_logFd.load();
        if (fd >= 0) Crash_WriteReport(fd, sig);
        if (g_marker[0]) {
            const int m = open(g_marker, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (m >= 0) {
                Line l;
                l.add(Crash_SignalName(sig));
                l.flush(m);
                close(m);
            }
        }
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

const char* Crash_SignalName(int sig) {
    switch (sig) {
    case SIGSEGV:
        return "Illegal Storage Access";
    case SIGILL:
        return "Illegal Instruction";
    case SIGABRT:
        return "Abnormal Termination";
    case SIGBUS:
        return "Bus Error";
    case SIGFPE:
        return "Arithmetic Fault";
    default:
        return "UNKNOWN EXCEPTION";
    }
}

void Crash_WriteReport(int fd, int sig) {
    Line l;
    l.add("Something went wrong in Inboxwarden...\r\n\r\nException: ");
    l.add(Crash_SignalName(sig));
    l.add("\r\n\r\n\r\n\r\n");
    l.flush(fd);
    void* frames[kMaxFrames];
    const int n = backtrace(frames, kMaxFrames);
    for (int i = 0; i < n; ++i) {
        Dl_info info{};
        const bool known = dladdr(frames[i], &info) != 0;
        l.addHex(reinterpret_cast<uintptr_t>(frames[i]));
        l.add(" (");
        l.add(known && info.dli_fname ? info.dli_fname : "(module-name not available)");
        l.add("): (filename not available): ");
        l.add(known && info.dli_sname ? info.dli_sname : "(function-name not available)");
        if (known && info.dli_saddr) {
            l.add("+");
            l.addHex(reinterpret_cast<uintptr_t>(frames[i]) -
                     reinterpret_cast<uintptr_t>(info.dli_saddr));
        }
        // The offset in the file is what addr2line needs for a PIE binary.
        if (known && info.dli_fbase) {
            l.add(" [+");
            l.addHex(reinterpret_cast<uintptr_t>(frames[i]) -
                     reinterpret_cast<uintptr_t>(info.dli_fbase));
            l.add("]");
        }
        l.add("\n");
        l.flush(fd);
    }
    fsync(fd);
}

void Crash_Install(int logFd, const std::string& markerPath) {
    if (g_installed.exchange(true)) return;
    g_logFd.store(logFd);
    if (markerPath.size() < sizeof g_marker)
        std::memcpy(g_marker, markerPath.c_str(), markerPath.size() + 1);
    // The first backtrace() loads the unwinder; do that now, not in the handler.
    void* warm[2];
    backtrace(warm, 2);
    stack_t ss{};
    ss.ss_sp = g_altStack;
    ss.ss_size = sizeof g_altStack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_handler = _handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (int sig : kSignals)
        sigaction(sig, &sa, nullptr);
}

bool Crash_TakeMarker(const std::string& markerPath, std::string* what) {
    if (markerPath.empty()) return false;
    const int fd = open(markerPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[65];
    const ssize_t n = read(fd, buf, 64);
    close(fd);
    unlink(markerPath.c_str());
    if (what) {
        what->assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
        for (char& c : *what)
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return true;
}
