// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/autostart.h"
#include "platform/files.h"
#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

// The Exec key's quoting: the path in double quotes with ", `, $ and the
// backslash escaped, and every backslash doubled once more for the string
// value.
std::string execQuoted(const std::string& path) {
    std::string q = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$') q += "\\";
        if (c == '\\') q += "\\\\\\";
        q += c;
    }
    q += '"';
    return q;
}

} // namespace

std::string Autostart_Path() {
    return configHome() + "/autostart/inboxwarden.desktop";
}

int Autostart_Set(bool enable, const std::string& exePath) {
    const std::string path = Autostart_Path();
    if (!enable) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
        return 0;
    }
    if (const int err = Paths_EnsureDir(Paths_DirName(path)); err) return err;
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Inboxwarden\n"
                              "Comment=POP3 mail checker\n"
                              "Exec=" +
                              execQuoted(exePath) +
                              "\n"
                              "Icon=inboxwarden\n"
                              "Terminal=false\n"
                              "X-GNOME-Autostart-enabled=true\n";
    return Files_WriteWhole(path, entry) == 0 ? 0 : (errno ? errno : EIO);
}

bool Autostart_IsSet() {
    struct stat st {};
    return stat(Autostart_Path().c_str(), &st) == 0;
}
