// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

int Process_SpawnDetached(const std::vector<std::string>& argv, const std::vector<int>& keep,
                          pid_t* pid) {
    if (pid) *pid = -1;
    if (argv.empty()) return EINVAL;
    // Out of the way of 3, 4, ... first, so that moving one descriptor into
    // place never overwrites another that is still to be moved.
    std::vector<int> high;
    for (int fd : keep) {
        const int h = fcntl(fd, F_DUPFD_CLOEXEC, 100);
        if (h < 0) {
            const int err = errno;
            for (int x : high)
                ::close(x);
            return err;
        }
        high.push_back(h);
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    for (size_t i = 0; i < high.size(); ++i)
        posix_spawn_file_actions_adddup2(&fa, high[i], 3 + static_cast<int>(i));
    posix_spawn_file_actions_addclosefrom_np(&fa, 3 + static_cast<int>(high.size()));
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t child = -1;
    const int rc = posix_spawn(&child, argv[0].c_str(), &fa, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    for (int h : high)
        ::close(h);
    if (rc == 0 && pid) *pid = child;
    return rc;
}
