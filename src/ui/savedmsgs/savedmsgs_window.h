// SPDX-License-Identifier: GPL-3.0-or-later
// The saved messages windows: the folders under the download root and, for
// one folder, its saved messages, which open in the message viewer or are
// deleted. UI thread only.
#pragma once

#include <cstdint>

class QWidget;

// Runs the modal folder window with `owner` as its parent. 0 when it was
// shown and closed; ERR_NOT_READY without showing anything when it is open
// already.
uint32_t SavedMessages_Open(QWidget* owner);
