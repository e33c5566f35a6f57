// SPDX-License-Identifier: GPL-3.0-or-later
#include "process.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace iwtest {

pid_t Spawn(const std::vector<std::string>& argv, const Env& env, const SpawnIo& io) {
    // Built here, in the parent: a child of a process with threads may do
    // nothing but the file actions before its exec.
    std::vector<std::string> vars;
    auto set = [&vars](const std::string& kv) {
        const size_t name = kv.find('=') + 1;
        for (auto& v : vars)
            if (v.compare(0, name, kv, 0, name) == 0) return void(v = kv);
        vars.push_back(kv);
    };
    for (char** e = environ; *e; ++e)
        set(*e);
    for (const auto& [name, value] : env) {
        if (!value.empty()) {
            set(name + "=" + value);
            continue;
        }
        const std::string prefix = name + "=";
        std::erase_if(vars, [&](const std::string& v) { return v.starts_with(prefix); });
    }
    std::vector<char*> cargv, cenv;
    for (const auto& a : argv)
        cargv.push_back(const_cast<char*>(a.c_str()));
    cargv.push_back(nullptr);
    for (auto& v : vars)
        cenv.push_back(v.data());
    cenv.push_back(nullptr);

    // The test process keeps 0-2 open (temp_env.cpp), so io's descriptors are
    // 3 or above, or 1 and 2 themselves.
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (const auto& [from, to] : {std::pair{io.out, 1}, std::pair{io.err, 2}}) {
        if (from >= 0)
            posix_spawn_file_actions_adddup2(&fa, from, to);
        else
            posix_spawn_file_actions_addopen(&fa, to, "/dev/null", O_WRONLY, 0);
    }
    if (io.keep >= 0) posix_spawn_file_actions_adddup2(&fa, io.keep, 3);
    posix_spawn_file_actions_addopen(&fa, 0, io.in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&fa, io.keep >= 0 ? 4 : 3);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

int WaitExit(pid_t pid) {
    if (pid <= 0) return -1; // not waitpid(-1), which would reap any child
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

int RunCollect(const std::vector<std::string>& argv, std::string* out, const Env& env, bool errToo,
               const std::string& in) {
    out->clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    const pid_t pid = Spawn(argv, env, {.in = in, .out = fds[1], .err = errToo ? fds[1] : 2});
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) != 0) {
        if (n > 0)
            out->append(buf, size_t(n));
        else if (errno != EINTR)
            break;
    }
    close(fds[0]);
    if (pid < 0) return -1;
    const int status = WaitExit(pid);
    return status >= 0 ? status : -1;
}

} // namespace iwtest
