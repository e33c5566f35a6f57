// SPDX-License-Identifier: GPL-3.0-or-later
// Starting a program that outlives the one that starts it (the installer of
// an update, the removal's temporary copy).
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts `argv` (argv[0] a path, not looked up) in a session of its own,
// standard input and output on /dev/null, standard error inherited; the
// descriptors `keep` are passed on as 3, 4, ... in that order and every other
// descriptor is closed in the child. Returns 0 or errno (also when the
// program could not be executed); *pid (when given) receives the child's pid.
int Process_SpawnDetached(const std::vector<std::string>& argv, const std::vector<int>& keep = {},
                          pid_t* pid = nullptr);
