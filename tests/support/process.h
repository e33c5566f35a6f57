// SPDX-License-Identifier: GPL-3.0-or-later
// Child processes of the tests. A child never sees the runner's standard
// input or any other descriptor of the test process: a runner may start the
// tests with standard input closed, on a terminal or with pipes of its own,
// and a child that picks one of those up fails or hangs at random.
#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace iwtest {

using Env = std::vector<std::pair<std::string, std::string>>;

struct SpawnIo {
    std::string in = "/dev/null"; // the file standard input reads
    int out = -1;                 // descriptor for standard output, -1 for /dev/null
    int err = -1;                 // the same for standard error
    int keep = -1;                // one more descriptor, passed as number 3
};

// Starts argv (argv[0] looked up on PATH) with `env` added to this process's
// environment (the last entry of a name wins; an empty value removes it). Descriptors other than
// 0-2 (and 3 with io.keep) are closed in the child. Returns its pid, or -1 when it could not be
// started.
pid_t Spawn(const std::vector<std::string>& argv, const Env& env = {}, const SpawnIo& io = {});

// Waits for a child: its exit code, or minus the signal that ended it; -1
// for a pid of -1 (a failed Spawn).
int WaitExit(pid_t pid);

// Runs argv to its end, standard input from `in`, standard output (and with
// `errToo` standard error, else the test's own) collected into *out. Returns
// its exit code, or -1 when it did not exit normally or could not start.
int RunCollect(const std::vector<std::string>& argv, std::string* out, const Env& env = {},
               bool errToo = false, const std::string& in = "/dev/null");

// RunCollect of `command` with /bin/sh.
inline int RunShell(const std::string& command, std::string* out,
                    const std::string& in = "/dev/null") {
    return RunCollect({"/bin/sh", "-c", command}, out, {}, false, in);
}

} // namespace iwtest
