// SPDX-License-Identifier: GPL-3.0-or-later
// One running copy per store: a lock file beside the store file, held with
// flock(2) by the copy that runs. The kernel drops the lock when that copy
// ends in any way (a crash included), so a stale file never blocks a start.
// The hand-over socket's name is derived from the store path, so copies on
// different stores (tests, "INBOXWARDEN_REGISTRY") never meet.
#pragma once

#include <string>

// Paths_RegistryFile() + ".lock".
std::string Instance_LockPath();

// A Unix-domain socket path for the store's running copy, short enough for
// sun_path: Paths_RuntimeDir() + "/iw-<hash of the store path>.sock", or a
// name under /tmp when the runtime folder's path is too long. The folder is
// created (0700).
std::string Instance_SocketPath();

enum : int {
    INSTANCE_ACQUIRED = 1, // this copy runs; the lock is held until Instance_Release or exit
    INSTANCE_HELD = 0,     // another copy holds the lock
    INSTANCE_ERROR = -1,   // the lock file cannot be made; *err has errno
};

// Tries to take the lock without waiting.
int Instance_Acquire(int* err = nullptr);

// Drops the lock (safe when not held).
void Instance_Release();

// Waits until no copy holds the lock, at most `timeoutMs`. True when it is
// free (the lock is not kept).
bool Instance_WaitReleased(int timeoutMs);
