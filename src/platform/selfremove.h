// SPDX-License-Identifier: GPL-3.0-or-later
// The files side of the program's removal of itself. Only a per-user install
// made by the installer is removed: the installer lists every file it wrote
// and every folder it created in <prefix>/lib/inboxwarden/install-manifest
// beside <prefix>/bin/inboxwarden. Nothing outside the user's home, nothing
// the manifest does not list and nothing owned by another user is deleted;
// a symbolic link is removed itself, never followed.
//
// The running executable cannot take its own file and folder away in an
// orderly way while it runs, so a temporary copy does it once the program has
// ended: the program starts the copy as "COPY /delorig 4 EXE PLUGIN" with a
// pipe's write end as descriptor 3 (the copy's "I am running" signal) and a
// pidfd of itself as descriptor 4 (what the copy waits on).
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct INSTALL_MANIFEST {
    std::string path;               // the manifest file
    std::vector<std::string> files; // absolute paths, as the installer wrote them
    std::vector<std::string> dirs;  // folders the installer created
};

// The manifest that would belong to the executable `exePath`:
// <exe dir>/../lib/inboxwarden/install-manifest (lexically).
std::string SelfRemove_ManifestPath(const std::string& exePath);

// Reads the manifest of `exePath` when the executable is a per-user install
// made by the installer: the manifest is a regular file of this user inside
// $HOME and lists the executable. Returns 0; ERR_NOT_FOUND when there is no
// such manifest (installed otherwise: the package manager removes it);
// ERR_BADARG when it exists but fails a check above (*why says which).
uint32_t SelfRemove_ReadManifest(const std::string& exePath, INSTALL_MANIFEST* out,
                                 std::string* why = nullptr);

// Deletes `path` when the manifest lists it and it is safe to (inside $HOME
// after resolving its folder, this user's, no folder). Ignores failures, as
// every removal step does; true when it is gone afterwards.
bool SelfRemove_DeleteListed(const INSTALL_MANIFEST& m, const std::string& path);

// Removes the folders the manifest lists that are empty now, deepest first.
void SelfRemove_RemoveEmptyDirs(const INSTALL_MANIFEST& m);

// The hand-over: copies `copyFrom` (the running executable) to a new private
// temporary file (prefix "shd"), starts it with "/delorig 4 EXE PLUGIN" and
// the two descriptors above, and waits up to `timeoutMs` for its signal.
// The copy's file is unlinked once it has started (it lives on while it
// runs). Returns 0 when the copy answered in time; ERR_TIMEOUT when it did
// not; ERR_FAILED when a step failed before it could be started. *copyPid
// (when given) receives the copy's pid, or -1.
uint32_t SelfRemove_HandOver(const std::string& copyFrom, const std::string& exePath,
                             const std::string& pluginPath, int timeoutMs,
                             pid_t* copyPid = nullptr);

// The copy's side (`args` are the arguments after "/delorig"): signals
// descriptor 3 when it is a pipe; with a first argument waits without limit
// for that process (a pidfd it inherited, else a pid) to end; with a second
// deletes that executable and with a third that plug-in, each only when its
// installer manifest lists it; then the manifest itself and the empty folders
// the installer created. Returns 0.
int SelfRemove_DelOrig(const std::vector<std::string>& args);
