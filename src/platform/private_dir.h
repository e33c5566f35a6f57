// SPDX-License-Identifier: GPL-3.0-or-later
// Private folders for the files the program hands to other programs: the
// attachments a user opens, the files unpacked from a winmail.dat, the HTML
// page shown in a browser.
//
// Names in mail are chosen by strangers and a shared temporary folder is
// writable by every local user, so each process makes one folder of its own
// (mkdtemp, mode 0700) under $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp, and
// hands out subfolders of it. Files are created afresh (O_EXCL, O_NOFOLLOW,
// mode 0600, never executable) under one path component. The process folder
// and everything in it are removed at exit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The process's folder, created on first use. Returns 0, or ERR_CREATE when
// no candidate folder would take it.
uint32_t PrivateDir_Process(std::string* path);

// A new empty subfolder (mode 0700) of the process's folder. 0 or ERR_CREATE.
uint32_t PrivateDir_Make(std::string* path);

// Removes a folder and everything in it; a link inside is removed, never
// followed. Only folders inside the process's folder are touched.
void PrivateDir_Remove(const std::string& path);

// Writes `data` to a new file `dir`/`name`. `name` must be one path
// component (Files_SafeName makes one); a file or link of that name is
// removed first, so the file is always the one created here. *path (when
// given) gets the full path. 0, ERR_BADARG for an unusable name, or
// ERR_CREATE.
uint32_t PrivateDir_WriteFile(const std::string& dir, std::string_view name, std::string_view data,
                              std::string* path = nullptr);

// Removes the process's folder now (also done at exit).
void PrivateDir_RemoveAll();
