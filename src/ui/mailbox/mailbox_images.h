// The MailBox window's pictures: the status strip (rows, tree nodes, the
// attachment column), the toolbar buttons and the logo. Everything the
// window draws comes from here, so that the project's artwork replaces these
// stand-ins in this one place. The stand-ins are drawn at whatever size is
// asked (HiDPI included) in colours that read on light and dark themes.
#pragma once

#include <QIcon>
#include <QPixmap>

// An image of the strip (MBIMG_*); a null icon for MBIMG_NONE.
QIcon MailBoxImage(int image);

// The toolbar picture of a command (MAILBOX_CMD); a null icon when none.
QIcon MailBoxToolImage(int command);

// The logo at the right of the toolbar: 80 x 20 (small) or 160 x 40.
QPixmap MailBoxLogo(bool large, qreal devicePixelRatio);
