// SPDX-License-Identifier: GPL-3.0-or-later
// Crash reports: a fault (illegal storage access, bus error, illegal
// instruction, arithmetic fault, abort) writes a report with the call stack
// into the open debug log and leaves a marker beside it, then the signal is
// raised again with its default action so the process ends as it would have.
//
// The handler runs on an alternate stack (a stack overflow still reports)
// and makes only async-signal-safe calls: no allocation, no stdio, no locks
// of the program's own. It runs no shutdown: the settings are left as they
// are, "CleanShutdown" stays 0 and the next start saves the kept tree into a
// recovery copy. The next start tells the user (Crash_TakeMarker).
#pragma once

#include <string>

// Installs the handlers once per process (later calls do nothing) for the
// calling thread's alternate stack; other threads report too, on their own
// stacks. `logFd` is the debug log (-1: report only the marker);
// `markerPath` the file that tells the next start (empty: none).
void Crash_Install(int logFd, const std::string& markerPath);

// Writes the report of signal `sig` to fd: the header lines, then one line
// per frame of the current call stack. Async-signal-safe; the handler's own
// body, and callable from tests.
void Crash_WriteReport(int fd, int sig);

// The report's name of a signal: "Illegal Storage Access", "Illegal
// Instruction", "Abnormal Termination", "Bus Error", "Arithmetic Fault", or
// "UNKNOWN EXCEPTION".
const char* Crash_SignalName(int sig);

// The marker of a crash in an earlier run: true with the name of the fault
// in *what (cut to 64 bytes) when there was one; the marker is removed.
bool Crash_TakeMarker(const std::string& markerPath, std::string* what);
