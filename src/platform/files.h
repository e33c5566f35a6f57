// SPDX-License-Identifier: GPL-3.0-or-later
// Files the program writes, and names that come from mail or servers.
//
// Every file is written to a temporary file (mode 0600) in the target folder
// and renamed over the target only after every write, the fsync and the close
// succeeded, so a failure never leaves a half-written file and never destroys
// the file that was there before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Longest file name component most Linux file systems accept.
inline constexpr size_t FILES_NAME_MAX = 255;

// Turns a name taken from a message, an attachment list or a server into one
// path component that is safe to join to a folder: the text after the last
// '/' or '\\', NUL and control characters replaced by '_', cut to
// FILES_NAME_MAX bytes on a UTF-8 boundary. A name that is then "", "." or
// ".." becomes "ath%05d.dat" with `index` (1-based position in its list).
std::string Files_SafeName(std::string_view name, unsigned index);

// One file being written. Not copyable; destroying it before Files_Commit
// removes the temporary file and leaves the target untouched.
struct FILES_WRITER {
    FILES_WRITER() = default;
    FILES_WRITER(const FILES_WRITER&) = delete;
    FILES_WRITER& operator=(const FILES_WRITER&) = delete;
    ~FILES_WRITER();

    int fd = -1;
    bool failed = false; // a write failed; Files_Commit will refuse
    std::string tempPath;
    std::string targetPath;
};

// Starts writing `path`: creates the temporary file beside it. Returns 0, or
// ERR_CREATE when the folder does not exist or cannot be written (errno kept).
uint32_t Files_Begin(FILES_WRITER* w, const std::string& path);

// Appends bytes. Returns 0, or ERR_CREATE when the write failed (disk full,
// file too large, ...); later writes and the commit then fail too.
uint32_t Files_Write(FILES_WRITER* w, const void* data, size_t size);

// Flushes the file to disk, closes it and renames it over the target.
// Returns 0, or ERR_CREATE after any failure (the temporary file is removed).
uint32_t Files_Commit(FILES_WRITER* w);

// Drops the temporary file; the target keeps what it had. Safe to call twice.
void Files_Abort(FILES_WRITER* w);

// Writes a whole file in one go: Files_Begin, Files_Write, Files_Commit.
uint32_t Files_WriteWhole(const std::string& path, std::string_view data);

// Why this thread's last file write failed: the system's error number
// (ENOSPC for a full disk) and *path the file it was for. 0 (and "") when the
// last file begun on this thread has not failed.
int Files_LastError(std::string* path);
