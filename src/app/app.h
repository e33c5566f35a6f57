// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, the message loop and shutdown of the tray program.
#pragma once

#include <string>

// The program entry. Returns 0 after a normal run (or --help, --version),
// 1 after handing the request over to the running copy, -1 when the
// initialisation failed.
int App_Main(int argc, char** argv);

// The "/smtp:" server of the start-up command line (empty: none): the
// compose windows send through it instead of the account's SendServer.
const std::string& App_SmtpServer();

// The initialisation sequence (category log, main window and tray icon,
// settings, engine, tray menu, then the posted load of the message boxes).
// `recovery` -1 takes the stored mode. 1 or 0.
int App_Initialize(const std::string& profile, int recovery, const std::string& logfile);

// The shutdown sequence; only the first call acts. The engine is stopped and
// waited for before any box or setting is touched.
void App_Shutdown();

// Whether the settings were saved by App_Shutdown (CleanShutdown may be 1).
bool App_ShutdownSaved();
