// SPDX-License-Identifier: GPL-3.0-or-later
// Where the program's own files live on a Linux desktop: the executable's
// folder for read-only side files, the XDG base folders for everything the
// program writes.
#pragma once

#include <cstdint>
#include <string>

// Absolute path of the running executable ("" when it cannot be read).
std::string Paths_ExeFile();

// The executable's folder with a trailing '/' ("" when unknown).
std::string Paths_ProgramDir();

// Where the loadable library `name` (the filter plug-in, the command line's
// bus module) is: in $INBOXWARDEN_PLUGIN_DIR alone when that is set; else the
// first that exists of the program's folder (the build tree), the
// installation's plug-in folder relative to the program, <program>/../lib/
// inboxwarden (the per-user installer's layout), and the folder this build was
// configured to install into. When none exists, the first candidate. Always
// a path with a slash, so dlopen never searches the library path for it.
std::string Paths_PluginFile(const char* name);

// $XDG_CONFIG_HOME/inboxwarden, $XDG_STATE_HOME/inboxwarden,
// $XDG_DATA_HOME/inboxwarden, $XDG_RUNTIME_DIR/inboxwarden: absolute paths
// without a trailing '/'. An unset or relative XDG variable falls back to the
// documented default under $HOME (the runtime folder to the cache folder).
// The folders are not created; see Paths_EnsureDir.
std::string Paths_ConfigDir();
std::string Paths_StateDir();
std::string Paths_DataDir();
std::string Paths_RuntimeDir();

// The store file: $INBOXWARDEN_REGISTRY when set, else
// Paths_ConfigDir() + "/registry.db".
std::string Paths_RegistryFile();

// Creates a folder and its missing parents; folders it creates get mode
// 0700. Returns 0, or errno of the step that failed.
int Paths_EnsureDir(const std::string& dir);

// The folder part of a path ("." when it has none).
std::string Paths_DirName(const std::string& path);
