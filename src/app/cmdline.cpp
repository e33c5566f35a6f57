// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cmdline.h"

#include <cstring>

namespace {

struct Switch {
    const char* name;
    bool caseSensitive;
};

constexpr Switch kSwitches[] = {
    {"/uninstall", true}, {"/delorig", true}, {"/profile:", false}, {"/defprofile:", false},
    {"/check:", false},   {"/smtp:", false},  {"/logfile:", false}, {"/recovery:", false},
};

bool _startsWith(std::string_view arg, const Switch& sw) {
    const size_t n = std::strlen(sw.name);
    if (arg.size() < n) return false;
    if (sw.caseSensitive) return arg.compare(0, n, sw.name) == 0;
    for (size_t i = 0; i < n; ++i) {
        char a = arg[i], b = sw.name[i];
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

const Switch* _switchOf(std::string_view arg) {
    for (const Switch& sw : kSwitches)
        if (_startsWith(arg, sw)) return &sw;
    return nullptr;
}

std::string _trim(std::string_view v) {
    size_t b = 0, e = v.size();
    while (b < e && (v[b] == ' ' || v[b] == '\t'))
        ++b;
    while (e > b && (v[e - 1] == ' ' || v[e - 1] == '\t'))
        --e;
    return std::string(v.substr(b, e - b));
}

} // namespace

CMDLINE CmdLine_Parse(int argc, const char* const* argv) {
    CMDLINE cl;
    if (argc > 1 && argv[1] && std::strcmp(argv[1], "/delorig") == 0) {
        cl.delorig = true;
        for (int i = 2; i < argc; ++i)
            cl.delorigArgs.emplace_back(argv[i] ? argv[i] : "");
        return cl;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] ? argv[i] : "";
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
            continue;
        }
        if (arg == "--version") {
            cl.version = true;
            continue;
        }
        const Switch* sw = _switchOf(arg);
        if (!sw || std::strcmp(sw->name, "/delorig") == 0) {
            cl.ignored.emplace_back(arg);
            continue;
        }
        const std::string_view name = sw->name;
        if (name == "/uninstall") {
            cl.uninstall = true;
            continue;
        }
        std::string value = _trim(arg.substr(name.size()));
        if (name == "/check:") {
            // An account name with blanks arrives split by the shell when it
            // was not quoted; the words up to the next switch belong to it.
            while (i + 1 < argc && argv[i + 1] && !_switchOf(argv[i + 1]) &&
                   std::strncmp(argv[i + 1], "--", 2) != 0) {
                const std::string word = _trim(argv[++i]);
                if (word.empty()) continue;
                if (!value.empty()) value += ' ';
                value += word;
            }
        }
        if (value.size() > CMDLINE_MAX_VALUE) {
            cl.ignored.emplace_back(arg);
            continue;
        }
        if (name == "/profile:")
            cl.profile = value;
        else if (name == "/defprofile:")
            cl.defprofile = value;
        else if (name == "/check:") {
            cl.hasCheck = !value.empty();
            cl.check = value;
        } else if (name == "/smtp:")
            cl.smtp = value;
        else if (name == "/logfile:")
            cl.logfile = value;
        else if (name == "/recovery:")
            cl.recovery = (!value.empty() && (value[0] == 'n' || value[0] == 'N')) ? 0 : 1;
    }
    return cl;
}

std::string CmdLine_Usage(std::string_view program) {
    std::string u = "Usage: ";
    u += program;
    u += " [switches]\n"
         "Checks POP3 mailboxes from the notification area. Only one copy runs per user;\n"
         "a second start hands its request to the running copy.\n\n"
         "  /profile:FILE      run on this profile file\n"
         "  /defprofile:FILE   make FILE the default profile and start normally\n"
         "  /check:NAME        ask the running copy to check account NAME, All or AllInc\n"
         "  /smtp:SERVER       send mail from the compose window through SERVER\n"
         "  /logfile:FILE      append the category log to FILE\n"
         "  /recovery:Y|N      keep a recovery copy of settings left by an unclean end\n"
         "  /uninstall         shut the running copy down and remove the program\n"
         "  --help, --version\n";
    return u;
}
