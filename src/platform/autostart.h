// SPDX-License-Identifier: GPL-3.0-or-later
// The logon entry: an XDG autostart file,
// $XDG_CONFIG_HOME/autostart/inboxwarden.desktop, that desktop sessions run
// at login.
#pragma once

#include <string>

// Path of the entry file.
std::string Autostart_Path();

// Writes the entry (starting `exePath`) when `enable`, else removes it.
// Returns 0, or errno of the step that failed (a missing entry is no error).
int Autostart_Set(bool enable, const std::string& exePath);

// True when the entry file exists.
bool Autostart_IsSet();
