// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/installer_date.h"

#include "common/status.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whitespace, then an optionally signed decimal number, as "%d" takes it.
bool _nextInt(std::string_view& s, long long* out) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    s.remove_prefix(i);
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *out);
    if (ec != std::errc() || *out < INT_MIN || *out > INT_MAX) return false;
    s.remove_prefix(static_cast<size_t>(end - s.data()));
    return true;
}

// The text after the marker on the first line that begins with it.
bool _findMarker(std::string_view head, std::string_view* rest) {
    const std::string_view marker = INSTALLER_DATE_MARKER;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t eol = head.find('\n', pos);
        if (eol == std::string_view::npos) eol = head.size();
        const std::string_view line = head.substr(pos, eol - pos);
        if (line.substr(0, marker.size()) == marker) {
            *rest = line.substr(marker.size());
            return true;
        }
        pos = eol + 1;
    }
    return false;
}

} // namespace

uint32_t InstallerDate_Read(const std::string& path, DATETIME* date) {
    if (!date) return ERR_BADARG;
    *date = DATETIME{};
    // Non-blocking: a FIFO named as the installer must not hold the start-up.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return ERR_NOT_READY;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ERR_NOT_READY;
    }
    char buf[INSTALLER_DATE_SCAN];
    size_t got = 0;
    while (got < sizeof buf) {
        const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return InstallerDate_Parse(std::string_view(buf, got), date);
}

uint32_t InstallerDate_Parse(std::string_view head, DATETIME* date) {
    if (!date) return ERR_BADARG;
    *date = DATETIME{};
    std::string_view rest;
    if (!_findMarker(head.substr(0, INSTALLER_DATE_SCAN), &rest)) return ERR_NOT_FOUND;
    long long v[4];
    for (long long& x : v)
        if (!_nextInt(rest, &x)) return ERR_BADARG;
    for (int i = 0; i < 3; ++i)
        if (v[i] < 0 || v[i] > 65535) return ERR_BADARG;
    date->wYear = static_cast<uint16_t>(v[0]);
    date->wMonth = static_cast<uint16_t>(v[1]);
    date->wDay = static_cast<uint16_t>(v[2]);
    return 0;
}

bool InstallerDate_IsNewer(const DATETIME& installer, const DATETIME& program) {
    if (installer.wYear != program.wYear) return installer.wYear > program.wYear;
    if (installer.wMonth != program.wMonth) return installer.wMonth > program.wMonth;
    return installer.wDay > program.wDay;
}
