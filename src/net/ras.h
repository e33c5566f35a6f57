// SPDX-License-Identifier: GPL-3.0-or-later
// Dial-up connections through NetworkManager's command-line client: "dial"
// brings a named connection up, "connected" asks whether it is active,
// "hang up" takes down the one connection this program brought up, and
// nothing else. nmcli is found on PATH at every call and run directly (an
// argument vector, never a shell, no secret on its command line, LC_ALL=C)
// with a time-out; its stored secrets stay with NetworkManager.
//
// Without nmcli every operation answers that there is no connection and that
// nothing was dialled; Ras_Load tells the two cases apart. The functions may
// be called from any thread: the connection this program dialled is one
// process-wide record under a lock.
#pragma once

#include "net/socket.h"

#include <string>
#include <string_view>
#include <vector>

// Codes of Ras_Dial and Ras_ErrorText beside nmcli's own exit statuses
// (1 unknown error, 2 invalid input, 3 time-out, 4 activation failed,
// 5 deactivation failed, 8 NetworkManager not running, 10 no such connection).
inline constexpr int RAS_NOT_AVAILABLE = 1000; // no nmcli on PATH, or it cannot be started
inline constexpr int RAS_TIMED_OUT = 1001;     // nmcli did not finish in time and was stopped
inline constexpr int RAS_BAD_NAME = 1002;  // an empty entry name, or one with a NUL or line break
inline constexpr int RAS_CANCELLED = 1003; // the abort was triggered while dialling

// How long one nmcli call may take by default (seconds): bringing a line
// up, and any other call.
inline constexpr int RAS_DIAL_TIMEOUT = 90;
inline constexpr int RAS_QUERY_TIMEOUT = 15;

// Changes those two limits (values below 1 count as 1); tests shorten them.
void Ras_SetTimeouts(int dialSec, int querySec);

// 1 when nmcli is on PATH and can be run, else 0.
int Ras_Load();

// 1 when the connection `entry` is active and reports the state
// "activated"; with an empty entry, when the first active connection of a
// dial-up type (gsm, cdma, pppoe, bluetooth) does. When the connection this
// program dialled reports "deactivating" or "deactivated", or the state
// cannot be read, that connection is hung up and the result is 0. No nmcli: 0.
int Ras_IsConnected(std::string_view entry);

// Brings `entry` up: 1 at once when Ras_IsConnected(entry) (nothing is
// remembered, so it will not be hung up by this program); else runs
// "nmcli --wait N connection up id ENTRY" (N the dial limit) and remembers the entry as dialled
// by this program. Returns 1 when connected, 0 when not; *error (may be
// null) gets nmcli's exit status or a RAS_ code, 0 on success. A failed dial
// takes the entry down again. abort (may be null) stops a dial in progress
// at once (RAS_CANCELLED; the entry is taken down).
int Ras_Dial(std::string_view entry, int* error = nullptr, const SockAbort* abort = nullptr);

// Takes down the connection this program dialled, if any, and forgets it.
void Ras_HangUp();
// Forgets it without taking it down (it stays up for the user).
void Ras_Forget();
// The entry this program dialled and has not hung up or forgotten ("" none).
std::string Ras_Dialled();

// The names of the configured connections, for the settings dialog. Returns
// 0 and the names, or an error code as Ras_Dial gives it.
int Ras_EnumEntries(std::vector<std::string>* names);

// A text for a Ras_Dial error code, shown in a box titled "DialUp Error";
// "Undefined RAS Error." for a code without one. Static text.
const char* Ras_ErrorText(int code);
