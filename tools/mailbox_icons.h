// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's images (src/ui/images.h lists them), drawn by
// make_icons beside the tray icons.
#pragma once

#include <QString>

// Writes status-N-S.png, tree-N-S.png and tool-COMMAND-S.png into `dir`.
void MailboxIcons_Write(const QString& dir);
