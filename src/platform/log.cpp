// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/log.h"
#include "common/text.h"
#include "platform/paths.h"

#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <locale.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace {

struct LogFile {
    std::mutex mu;
    int fd = -1;
    std::string path;
    uint32_t mask = 0;
};

LogFile& debugLog() {
    static LogFile f;
    return f;
}

LogFile& categoryLog() {
    static LogFile f;
    return f;
}

void writeAll(int fd, std::string_view text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return; // a full disk must not stop the program; the line is lost
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// Formats in the C locale: log lines must not change with the user's
// language settings (decimal commas and the like).
std::string formatC(const char* fmt, va_list ap) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const locale_t old = cLocale ? uselocale(cLocale) : nullptr;
    char small[512];
    va_list ap2;
    va_copy(ap2, ap);
    const int n = vsnprintf(small, sizeof small, fmt, ap);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<size_t>(n) + 1);
        vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    if (old) uselocale(old);
    return out;
}

std::string readSmallFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string data(64 * 1024, '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(in.gcount()));
    return data;
}

// Value of KEY=... in os-release syntax: optional single or double quotes,
// backslash escapes inside double quotes.
std::string osReleaseValue(std::string_view text, std::string_view key) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = Text_TrimBlanks(text.substr(pos, eol - pos));
        pos = eol + 1;
        if (line.size() <= key.size() || line.substr(0, key.size()) != key ||
            line[key.size()] != '=')
            continue;
        std::string_view v = line.substr(key.size() + 1);
        std::string out;
        if (!v.empty() && (v.front() == '"' || v.front() == '\'')) {
            const char q = v.front();
            for (size_t i = 1; i < v.size() && v[i] != q; ++i) {
                if (q == '"' && v[i] == '\\' && i + 1 < v.size()) ++i;
                out += v[i];
            }
        } else {
            out.assign(v);
        }
        return out;
    }
    return {};
}

// A field of the head line: printable, bounded, valid UTF-8 kept whole.
std::string cleanField(std::string_view v, size_t maxBytes, const char* fallback) {
    std::string out;
    for (char c : v)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    if (!Text_IsValidUtf8(out)) out.clear();
    out = std::string(Text_CutUtf8(Text_TrimBlanks(out), maxBytes));
    return out.empty() ? fallback : out;
}

int openLogFile(const std::string& path, int flags) {
    const int fd = open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) fchmod(fd, 0600); // an older file may have been made with looser rights
    return fd;
}

} // namespace

std::string DebugLog_SystemVersion(std::string_view osRelease, std::string_view unameRelease,
                                   std::string_view unameVersion) {
    std::string name = osReleaseValue(osRelease, "PRETTY_NAME");
    if (name.empty()) name = osReleaseValue(osRelease, "NAME");
    return cleanField(unameRelease, 32, "0.0") + "  " + cleanField(name, 128, "Unknown") + "  " +
           cleanField(unameVersion, 128, "(Unknown)");
}

int DebugLog_Open(const std::string& dirArg) {
    LogFile& log = debugLog();
    std::lock_guard lock(log.mu);
    if (log.fd >= 0) {
        close(log.fd);
        log.fd = -1;
    }
    const std::string dir = dirArg.empty() ? Paths_StateDir() : dirArg;
    if (const int rc = Paths_EnsureDir(dir); rc != 0) return rc;
    const std::string path = dir + "/debug_info.txt";
    // rename() replaces the backup atomically; there is no other volume to cross.
    rename(path.c_str(), (dir + "/Debug_info_BAK.txt").c_str());
    log.fd = openLogFile(path, O_TRUNC);
    if (log.fd < 0) return errno;
    log.path = path;

    std::string osRelease = readSmallFile("/etc/os-release");
    if (osRelease.empty()) osRelease = readSmallFile("/usr/lib/os-release");
    utsname u{};
    const bool haveUname = uname(&u) == 0;
    const std::string head =
        "ExeName: " + Paths_ExeFile() + "\nDebugFile: " + path + "\n" + "System Version: " +
        DebugLog_SystemVersion(osRelease, haveUname ? u.release : "", haveUname ? u.version : "") +
        "\n";
    writeAll(log.fd, head);
    return 0;
}

void DebugLog_Write(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    const std::string text = formatC(fmt, ap);
    va_end(ap);
    DebugLog_WriteText(text);
}

void DebugLog_WriteText(std::string_view text) {
    LogFile& log = debugLog();
    std::lock_guard lock(log.mu);
    if (log.fd >= 0) writeAll(log.fd, text);
}

void DebugLog_Close() {
    LogFile& log = debugLog();
    std::lock_guard lock(log.mu);
    if (log.fd >= 0) close(log.fd);
    log.fd = -1;
    log.path.clear();
}

std::string DebugLog_Path() {
    LogFile& log = debugLog();
    std::lock_guard lock(log.mu);
    return log.path;
}

int DebugLog_Fd() {
    // No lock: the crash handler must not block on a mutex a faulting thread holds.
    return debugLog().fd;
}

int Log_Open(const char* path, uint32_t mask) {
    if (!path || !*path) return -1;
    LogFile& log = categoryLog();
    std::lock_guard lock(log.mu);
    const int fd = openLogFile(path, O_APPEND);
    if (fd < 0) return -2;
    if (log.fd >= 0) close(log.fd);
    log.fd = fd;
    log.path = path;
    log.mask = mask & 0xFFFF0000u;
    return 0;
}

void Log_Write(uint32_t category, const char* fmt, ...) {
    LogFile& log = categoryLog();
    {
        std::lock_guard lock(log.mu);
        if (log.fd < 0 || (category & log.mask) == 0) return;
    }
    va_list ap;
    va_start(ap, fmt);
    const std::string text = formatC(fmt, ap);
    va_end(ap);
    std::lock_guard lock(log.mu);
    if (log.fd >= 0) writeAll(log.fd, text);
}

void Log_Close() {
    LogFile& log = categoryLog();
    std::lock_guard lock(log.mu);
    if (log.fd >= 0) close(log.fd);
    log.fd = -1;
    log.path.clear();
    log.mask = 0;
}
