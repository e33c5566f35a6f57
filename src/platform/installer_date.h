// SPDX-License-Identifier: GPL-3.0-or-later
// The release date an installer file carries: a marker line
// "# inboxwarden-release: YYYY MM DD N" within its first 4 KB (the installer
// is a shell script with an archive behind it, so the line is read without
// running anything). The fourth number is read and ignored.
#pragma once

#include "common/datetime.h"

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t INSTALLER_DATE_SCAN = 4096;
inline constexpr char INSTALLER_DATE_MARKER[] = "# inboxwarden-release:";

// Reads the marker of the installer at `path` into *date (zeroed first; only
// year, month and day are set). Returns 0 when all four numbers parse;
// ERR_NOT_READY when the file cannot be opened or is no regular file;
// ERR_NOT_FOUND when no line of the first 4 KB begins with the marker;
// ERR_BADARG when fewer than four numbers follow it, or the year, month or
// day does not fit the record (*date is then all zero).
uint32_t InstallerDate_Read(const std::string& path, DATETIME* date);

// The same rules over the first bytes of a file already read (at most the
// first INSTALLER_DATE_SCAN are looked at): 0, ERR_NOT_FOUND or ERR_BADARG.
uint32_t InstallerDate_Parse(std::string_view head, DATETIME* date);

// Whether the installer's date is later than the program's by year, then
// month, then day (time of day is not compared).
bool InstallerDate_IsNewer(const DATETIME& installer, const DATETIME& program);
