// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in nmcli for the dial-up tests: a shell script in a private folder
// that is the whole PATH while it is installed. It records every call's
// arguments, one call per line with each argument followed by '|', and
// answers as the test tells it through files in its folder:
//   active     printed for "connection show --active" (terse lines)
//   names      printed for "connection show"
//   up_status  exit status of "connection up" (default 0, which also adds
//              "NAME:gsm:activated" to active)
//   up_sleep   seconds "connection up" takes first
//   show_sleep seconds "connection show --active" takes first
// "connection down" empties active.
#pragma once

#include "../support/temp_env.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>

namespace iwtest {

class FakeNmcli {
  public:
    // install false: only a PATH without nmcli (the "not available" case).
    explicit FakeNmcli(bool install = true) : dir_(MakeTempDir("nmcli")) {
        const char* old = std::getenv("PATH");
        oldPath_ = old ? old : "";
        if (install) {
            Write("nmcli", Script());
            chmod((dir_ + "/nmcli").c_str(), 0700);
        }
        setenv("PATH", dir_.c_str(), 1);
    }
    ~FakeNmcli() { setenv("PATH", oldPath_.c_str(), 1); }
    FakeNmcli(const FakeNmcli&) = delete;
    FakeNmcli& operator=(const FakeNmcli&) = delete;

    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ + "/" + name, std::ios::trunc) << text;
    }
    std::string Calls() const { return ReadFile(dir_ + "/calls"); }
    void ClearCalls() const { Write("calls", ""); }

  private:
    // Only builtins and absolute paths: the script's folder is the whole PATH.
    std::string Script() const {
        return "#!/bin/sh\nd='" + dir_ + R"('
for a in "$@"; do printf '%s|' "$a"; done >> "$d/calls"
printf 'LC_ALL=%s\n' "$LC_ALL" >> "$d/calls"
case "$*" in
*'connection show --active')
  [ -f "$d/show_sleep" ] && read -r s < "$d/show_sleep" && /bin/sleep "$s"
  [ -f "$d/active" ] && /bin/cat "$d/active"
  exit 0;;
*'connection show')
  [ -f "$d/names" ] && /bin/cat "$d/names"
  exit 0;;
*'connection up id '*)
  [ -f "$d/up_sleep" ] && read -r s < "$d/up_sleep" && /bin/sleep "$s"
  st=0; [ -f "$d/up_status" ] && read -r st < "$d/up_status"
  for last; do :; done
  [ "$st" = 0 ] && printf '%s:gsm:activated\n' "$last" >> "$d/active"
  [ "$st" = 0 ] || echo 'Error: Connection activation failed.' >&2
  exit "$st";;
*'connection down id '*)
  : > "$d/active"; exit 0;;
esac
exit 2
)";
    }
    std::string dir_;
    std::string oldPath_;
};

} // namespace iwtest
