// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mailbox/mailbox_images.h"

#include "ui/images.h"
#include "ui/mailbox/mailbox_model.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>

QIcon MailBoxImage(int image) {
    return Images_Status(image);
}

QIcon MailBoxTreeImage(int image) {
    return Images_Tree(image);
}

QIcon MailBoxToolImage(int command) {
    // The menu's "Check All" and the button's share the picture.
    return Images_Tool(command == MBC_CHECK_ALL ? MBC_CHECK_ALL_BUTTON : command);
}

QPixmap MailBoxLogo(bool large, qreal devicePixelRatio) {
    const QSize size = large ? QSize(160, 40) : QSize(80, 20);
    QPixmap pm(size * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const int h = size.height();
    const QIcon app = QApplication::windowIcon();
    (app.isNull() ? Images_Tree(TREE_ROOT) : app).paint(&p, QRect(0, 0, h, h));
    const QRect room(h + 2, 0, size.width() - h - 2, h);
    const QString name = QStringLiteral("Inboxwarden");
    QFont f = QApplication::font();
    f.setBold(true);
    f.setPixelSize(h * 3 / 5);
    // The name fits its room whatever the font. Widths grow with the size,
    // so one measure nearly finds it: every size tried keeps a font engine
    // in Qt's cache for the program's life.
    if (const int w = QFontMetrics(f).horizontalAdvance(name); w > room.width())
        f.setPixelSize(std::max(6, f.pixelSize() * room.width() / w));
    while (f.pixelSize() > 6 && QFontMetrics(f).horizontalAdvance(name) > room.width())
        f.setPixelSize(f.pixelSize() - 1);
    p.setFont(f);
    p.setPen(QApplication::palette().color(QPalette::WindowText));
    p.drawText(room, Qt::AlignVCenter | Qt::AlignLeft, name);
    return pm;
}
