// SPDX-License-Identifier: GPL-3.0-or-later
// The two text logs. Neither adds time stamps or prefixes: a line is exactly
// the text written, and every write reaches the file before the call returns
// (each is one write(2) on an unbuffered descriptor). Both may be written
// from any thread. Log files are created with mode 0600: they hold user
// names and subjects.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// ---- Debug log: debug_info.txt, always written while open ------------------

// Rotates and opens the debug log in `dir` (default: Paths_StateDir(), which
// is created 0700): an existing debug_info.txt replaces Debug_info_BAK.txt,
// then a new debug_info.txt is started with its first lines (executable,
// file, system version). Returns 0, or errno when the file cannot be made;
// the program runs on without a debug log then.
int DebugLog_Open(const std::string& dir = "");

// Appends printf-formatted text (C locale, whatever the program's locale).
void DebugLog_Write(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Appends text as it stands.
void DebugLog_WriteText(std::string_view text);

// Closes the file; later writes are dropped until the next open.
void DebugLog_Close();

// Path of the open debug log ("" while closed).
std::string DebugLog_Path();

// Descriptor of the open debug log, or -1; for the crash handler, which may
// only make async-signal-safe calls.
int DebugLog_Fd();

// The system-version line of the debug log's head: "<kernel release>  <OS
// name>  <kernel build>" with "0.0", "Unknown" and "(Unknown)" for what
// cannot be read. `osRelease` and `unameRelease`/`unameVersion` are the raw
// inputs (the contents of /etc/os-release and uname's fields), so the
// parsing can be tested and fuzzed.
std::string DebugLog_SystemVersion(std::string_view osRelease, std::string_view unameRelease,
                                   std::string_view unameVersion);

// ---- Category log: optional, named by the command line ---------------------

inline constexpr uint32_t LOG_APP = 0x10000;  // application and mail check ("MAIN" lines)
inline constexpr uint32_t LOG_POP3 = 0x20000; // POP3 session
inline constexpr uint32_t LOG_SMTP = 0x40000; // SMTP client
inline constexpr uint32_t LOG_MIME = 0x80000; // printing and MIME
inline constexpr uint32_t LOG_ALL = 0xFFFF0000;

// Printing writes under the MIME bit: the two share one class of the log.
inline constexpr uint32_t LOG_PRINT = LOG_MIME;

// Opens `path` for appending. The mask is the upper 16 bits of `mask`.
// Returns 0, -1 when path is null or empty, -2 when it cannot be opened.
int Log_Open(const char* path, uint32_t mask);

// Writes printf-formatted text when `category` has a bit in the mask;
// nothing while the log is closed.
void Log_Write(uint32_t category, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

void Log_Close();
