// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's pictures: the status images of rows, tree nodes and
// the attachment column, the toolbar buttons (the project's artwork,
// ui/images.h) and the logo at the right of the toolbar.
#pragma once

#include <QIcon>
#include <QPixmap>

// A row's image of the strip (MBIMG_*); a null icon for MBIMG_NONE.
QIcon MailBoxImage(int image);
// A tree node's image of the strip (MBIMG_*): the same numbers, drawn as
// the tree draws them (4 is a failed check there).
QIcon MailBoxTreeImage(int image);

// The toolbar picture of a command (MAILBOX_CMD); a null icon when none.
QIcon MailBoxToolImage(int command);

// The logo at the right of the toolbar: 80 x 20 (small) or 160 x 40.
QPixmap MailBoxLogo(bool large, qreal devicePixelRatio);
