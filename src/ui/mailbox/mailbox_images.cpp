#include "ui/mailbox/mailbox_images.h"

#include "ui/mailbox/mailbox_list.h"
#include "ui/mailbox/mailbox_model.h"

#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

#include <functional>

namespace {

using Draw = std::function<void(QPainter&)>;

// Paints a 16 x 16 drawing at any size, so the icon stays sharp at 2x.
class DrawnIcon : public QIconEngine {
  public:
    explicit DrawnIcon(Draw draw) : draw_(std::move(draw)) {}
    void paint(QPainter* p, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        p->translate(rect.topLeft());
        p->scale(rect.width() / 16.0, rect.height() / 16.0);
        if (mode == QIcon::Disabled) p->setOpacity(0.4);
        draw_(*p);
        p->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(), size), mode, state);
        return pm;
    }
    QIconEngine* clone() const override { return new DrawnIcon(draw_); }

  private:
    Draw draw_;
};

// Dark outlines with light fills, and accents ringed in white: each reads
// on a light and on a dark background.
const QColor kInk(0x4a, 0x4f, 0x57);
const QColor kPaper(0xf6, 0xf7, 0xf9);
const QColor kNew(0xf0, 0x8c, 0x00);
const QColor kUnread(0x1c, 0x7e, 0xd6);
const QColor kNotified(0xf5, 0xc2, 0x1b);
const QColor kDelete(0xe0, 0x31, 0x31);

void envelope(QPainter& p, bool open, const QColor& paper = kPaper) {
    p.setPen(QPen(kInk, 1.1));
    p.setBrush(paper);
    if (open) {
        QPainterPath flap;
        flap.moveTo(1.5, 7);
        flap.lineTo(8, 2);
        flap.lineTo(14.5, 7);
        p.drawPath(flap);
        p.drawRect(QRectF(1.5, 7, 13, 7));
        p.drawLine(QPointF(1.5, 7), QPointF(8, 11));
        p.drawLine(QPointF(14.5, 7), QPointF(8, 11));
        return;
    }
    p.drawRect(QRectF(1.5, 4, 13, 9));
    p.drawLine(QPointF(1.5, 4), QPointF(8, 9));
    p.drawLine(QPointF(14.5, 4), QPointF(8, 9));
}

void dot(QPainter& p, const QColor& c) {
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(c);
    p.drawEllipse(QPointF(12, 4.5), 3.4, 3.4);
}

void cross(QPainter& p) {
    p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(12, 12));
    p.drawLine(QPointF(12, 4), QPointF(4, 12));
    p.setPen(QPen(kDelete, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4, 4), QPointF(12, 12));
    p.drawLine(QPointF(12, 4), QPointF(4, 12));
}

void paperclip(QPainter& p) {
    QPainterPath clip;
    clip.moveTo(10.5, 5);
    clip.lineTo(10.5, 11.5);
    clip.arcTo(QRectF(5.5, 9, 5, 5), 0, -180);
    clip.lineTo(5.5, 3.5);
    clip.arcTo(QRectF(5.5, 1.5, 3.5, 3.5), 180, -180);
    clip.lineTo(9, 11);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(clip);
    p.setPen(QPen(kInk, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(clip);
}

void boxes(QPainter& p) {
    p.setPen(QPen(kInk, 1.1));
    p.setBrush(kPaper.darker(112));
    p.drawRect(QRectF(3.5, 1.5, 11, 7));
    p.translate(-1, 2);
    envelope(p, false);
}

QIcon drawn(Draw draw) {
    return QIcon(new DrawnIcon(std::move(draw)));
}

QIcon standard(QStyle::StandardPixmap which) {
    return QApplication::style()->standardIcon(which);
}

} // namespace

QIcon MailBoxImage(int image) {
    switch (image) {
    case MBIMG_NEW:
        return drawn([](QPainter& p) {
            envelope(p, false);
            dot(p, kNew);
        });
    case MBIMG_OLD:
        return drawn([](QPainter& p) { envelope(p, true); });
    case MBIMG_TO_DELETE:
        return drawn([](QPainter& p) {
            envelope(p, false);
            cross(p);
        });
    case MBIMG_UNREAD:
        return drawn([](QPainter& p) {
            envelope(p, false);
            dot(p, kUnread);
        });
    case MBIMG_ROOT:
        return drawn([](QPainter& p) { boxes(p); });
    case MBIMG_NOTIFIED:
        return drawn([](QPainter& p) {
            envelope(p, false);
            dot(p, kNotified);
        });
    case MBIMG_ATTACH:
        return drawn([](QPainter& p) { paperclip(p); });
    case MBIMG_DELETED:
        return drawn([](QPainter& p) {
            p.setOpacity(0.55);
            envelope(p, true, QColor(0xc8, 0xcb, 0xd0));
            p.setOpacity(1);
            p.setPen(QPen(kDelete, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(2, 14), QPointF(14, 2));
        });
    default:
        return {};
    }
}

QIcon MailBoxToolImage(int command) {
    switch (command) {
    case MBC_MARK_DELETE:
        return MailBoxImage(MBIMG_TO_DELETE);
    case MBC_DELETE_NOW:
        return standard(QStyle::SP_TrashIcon);
    case MBC_REPLY:
        return standard(QStyle::SP_ArrowBack);
    case MBC_FORWARD:
        return standard(QStyle::SP_ArrowForward);
    case MBC_COMPOSE:
        return standard(QStyle::SP_FileIcon);
    case MBC_FIND:
        return standard(QStyle::SP_FileDialogContentsView);
    case MBC_FIND_NEXT:
        return standard(QStyle::SP_ArrowDown);
    case MBC_FIND_PREV:
        return standard(QStyle::SP_ArrowUp);
    case MBC_AUTO_CHECK:
        return standard(QStyle::SP_BrowserReload);
    case MBC_PROGRESS_WINDOW:
        return standard(QStyle::SP_FileDialogDetailedView);
    case MBC_MAIL_CLIENT:
        return standard(QStyle::SP_ComputerIcon);
    case MBC_CHECK_CURRENT:
        return MailBoxImage(MBIMG_NEW);
    case MBC_CHECK_ALL_BUTTON:
    case MBC_CHECK_ALL:
        return MailBoxImage(MBIMG_ROOT);
    case MBC_CHECK_INCLUDED:
        return standard(QStyle::SP_DialogApplyButton);
    default:
        return {};
    }
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
    (app.isNull() ? MailBoxImage(MBIMG_ROOT) : app).paint(&p, QRect(0, 0, h, h));
    const QRect room(h + 2, 0, size.width() - h - 2, h);
    const QString name = QStringLiteral("Inboxwarden");
    QFont f = QApplication::font();
    f.setBold(true);
    f.setPixelSize(h * 3 / 5);
    // The name fits its room whatever the font.
    while (f.pixelSize() > 6 && QFontMetrics(f).horizontalAdvance(name) > room.width())
        f.setPixelSize(f.pixelSize() - 1);
    p.setFont(f);
    p.setPen(QApplication::palette().color(QPalette::WindowText));
    p.drawText(room, Qt::AlignVCenter | Qt::AlignLeft, name);
    return pm;
}
