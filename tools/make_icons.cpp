// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the tray icons (states 120 to 126) and the application icon into
// resources/icons, and the MailBox window's images (mailbox_icons.cpp) into
// resources/icons/mailbox. Run by hand after changing a drawing; the PNGs are
// committed so that building the program needs no drawing step.
//   build/dev/tools/make_icons resources/icons
#include "mailbox_icons.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

enum class Badge { None, Dots, Star, Cross, Pause };

struct State {
    int id;
    QColor body;    // envelope paper
    QColor outline; // envelope edge
    Badge badge;
};

// The envelope keeps a dark edge and a light body so that it stands out on
// light and dark panels alike; the state is told by the body colour and a
// badge in the lower right corner.
const State kStates[] = {
    {120, QColor(0xF5, 0xF5, 0xF0), QColor(0x2B, 0x33, 0x40), Badge::None},
    {121, QColor(0xD6, 0xE8, 0xFF), QColor(0x1A, 0x4D, 0x8F), Badge::Dots},
    {122, QColor(0xFF, 0xD5, 0x4F), QColor(0x5A, 0x3A, 0x00), Badge::Star},
    {123, QColor(0xF5, 0xF5, 0xF0), QColor(0x2B, 0x33, 0x40), Badge::Cross},
    {124, QColor(0xC8, 0xE6, 0xC9), QColor(0x1E, 0x4D, 0x22), Badge::None},
    {125, QColor(0xFF, 0x8F, 0x00), QColor(0x4A, 0x1C, 0x00), Badge::None},
    {126, QColor(0xB8, 0xBC, 0xC2), QColor(0x50, 0x55, 0x5C), Badge::Pause},
};

void drawEnvelope(QPainter& p, const QRectF& r, const QColor& body, const QColor& outline,
                  double pen) {
    p.setPen(QPen(outline, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(body);
    p.drawRoundedRect(r, pen, pen);
    QPainterPath flap;
    flap.moveTo(r.left() + pen * 0.5, r.top() + pen * 0.5);
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.58);
    flap.lineTo(r.right() - pen * 0.5, r.top() + pen * 0.5);
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

void drawBadge(QPainter& p, Badge badge, int size) {
    const double s = size;
    const QRectF disc(s * 0.50, s * 0.50, s * 0.50, s * 0.50);
    const double pen = std::max(1.0, s / 16.0);
    switch (badge) {
    case Badge::None:
        return;
    case Badge::Dots: { // the check is running: a blue disc with a white ring segment
        p.setPen(QPen(Qt::white, pen * 0.8));
        p.setBrush(QColor(0x19, 0x76, 0xD2));
        p.drawEllipse(disc.adjusted(pen * 0.4, pen * 0.4, -pen * 0.4, -pen * 0.4));
        p.setPen(QPen(Qt::white, pen * 1.2, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        const QRectF arc = disc.adjusted(s * 0.12, s * 0.12, -s * 0.12, -s * 0.12);
        p.drawArc(arc, 90 * 16, 270 * 16);
        return;
    }
    case Badge::Star: { // new mail: a red disc with a white dot
        p.setPen(QPen(Qt::white, pen * 0.8));
        p.setBrush(QColor(0xD3, 0x2F, 0x2F));
        p.drawEllipse(disc.adjusted(pen * 0.4, pen * 0.4, -pen * 0.4, -pen * 0.4));
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        const double d = s * 0.14;
        p.drawEllipse(disc.center(), d, d);
        return;
    }
    case Badge::Cross: { // a failed account: a red disc with a white cross
        p.setPen(QPen(Qt::white, pen * 0.8));
        p.setBrush(QColor(0xC6, 0x28, 0x28));
        p.drawEllipse(disc.adjusted(pen * 0.4, pen * 0.4, -pen * 0.4, -pen * 0.4));
        p.setPen(QPen(Qt::white, pen * 1.4, Qt::SolidLine, Qt::RoundCap));
        const double k = s * 0.11;
        const QPointF c = disc.center();
        p.drawLine(c + QPointF(-k, -k), c + QPointF(k, k));
        p.drawLine(c + QPointF(-k, k), c + QPointF(k, -k));
        return;
    }
    case Badge::Pause: { // loading or automatic checks off: a dark disc with two bars
        p.setPen(QPen(Qt::white, pen * 0.8));
        p.setBrush(QColor(0x45, 0x4A, 0x52));
        p.drawEllipse(disc.adjusted(pen * 0.4, pen * 0.4, -pen * 0.4, -pen * 0.4));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        const QPointF c = disc.center();
        const double w = std::max(1.0, s * 0.06), h = s * 0.22;
        p.drawRect(QRectF(c.x() - w * 1.6, c.y() - h / 2, w, h));
        p.drawRect(QRectF(c.x() + w * 0.6, c.y() - h / 2, w, h));
        return;
    }
    }
}

QImage trayIcon(const State& st, int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double pen = std::max(1.0, size / 14.0);
    const double m = pen * 0.5 + size * 0.02;
    // A light halo under the edge keeps the dark outline readable on a dark panel.
    const QRectF env(m, size * 0.18, size - 2 * m, size * 0.62);
    p.setPen(
        QPen(QColor(255, 255, 255, 110), pen * 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(env, pen, pen);
    drawEnvelope(p, env, st.body, st.outline, pen);
    drawBadge(p, st.badge, size);
    return img;
}

QImage appIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(0x2E, 0x7D, 0xD2));
    g.setColorAt(1, QColor(0x15, 0x45, 0x8A));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
    drawEnvelope(p, QRectF(s * 0.18, s * 0.28, s * 0.64, s * 0.44), QColor(0xFA, 0xFA, 0xF5),
                 QColor(0x10, 0x2A, 0x50), s / 32.0);
    // A small shield: the program watches over the inbox.
    QPainterPath shield;
    const QPointF c(s * 0.72, s * 0.70);
    const double w = s * 0.16;
    shield.moveTo(c.x() - w, c.y() - w);
    shield.lineTo(c.x() + w, c.y() - w);
    shield.lineTo(c.x() + w, c.y());
    shield.quadTo(c.x() + w, c.y() + w * 0.9, c.x(), c.y() + w * 1.3);
    shield.quadTo(c.x() - w, c.y() + w * 0.9, c.x() - w, c.y());
    shield.closeSubpath();
    p.setPen(QPen(Qt::white, s / 40.0));
    p.setBrush(QColor(0xFF, 0xB3, 0x00));
    p.drawPath(shield);
    return img;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(dir);
    for (const State& st : kStates)
        for (int size : {16, 22, 32})
            trayIcon(st, size).save(dir + QStringLiteral("/tray-%1-%2.png").arg(st.id).arg(size));
    for (int size : {32, 48, 64, 128, 256})
        appIcon(size).save(dir + QStringLiteral("/inboxwarden-%1.png").arg(size));
    QDir().mkpath(dir + QStringLiteral("/mailbox"));
    MailboxIcons_Write(dir + QStringLiteral("/mailbox"));
    std::printf("icons written to %s\n", qPrintable(dir));
    return 0;
}
