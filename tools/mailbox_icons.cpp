// SPDX-License-Identifier: GPL-3.0-or-later
// The MailBox window's images: the list's status images and attachment mark,
// the tree's root and account images and the toolbar buttons. Every image is
// drawn on a grid (16 units for the list and the tree, 24 for the toolbar)
// and rendered at 1x and 2x from the same drawing.
//
// On light and dark panels alike: every shape has a dark edge and a light
// body, and a faint light halo around the whole image keeps the dark edge
// apart from a dark background. States differ by shape first (open or closed
// envelope, a cross, a badge) and by colour second, so that they stay apart
// for a reader who does not tell red from green.
#include "mailbox_icons.h"

#include "ui/images.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

const QColor kInk(0x2B, 0x33, 0x40);     // every outline
const QColor kPaper(0xFA, 0xFA, 0xF5);   // letters, pages, clock faces
const QColor kPlain(0xDD, 0xE1, 0xE6);   // a closed envelope with nothing to say
const QColor kGold(0xFF, 0xD5, 0x4F);    // new mail, as in the tray icon
const QColor kGoldInk(0x5A, 0x3A, 0x00); // the gold envelope's edge
const QColor kGrey(0x9E, 0xA4, 0xAC);    // gone from the server
const QColor kRed(0xD3, 0x2F, 0x2F);
const QColor kBlue(0x1E, 0x88, 0xE5);
const QColor kGreen(0x43, 0xA0, 0x47);
const QColor kTray(0xB3, 0xC7, 0xDB); // the in-tray of an account

QPen ink(double w, const QColor& c = kInk) {
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

using Drawing = std::function<void(QPainter&)>;

// Paints a translucent light rim of `radius` pixels around what `glyph`
// covers; on a light panel it vanishes, on a dark one it outlines the edge.
QImage withHalo(const QImage& glyph, int radius) {
    const int w = glyph.width(), h = glyph.height();
    QImage halo(w, h, QImage::Format_ARGB32_Premultiplied);
    halo.fill(Qt::transparent);
    for (int y = 0; y < h; ++y) {
        auto* out = reinterpret_cast<QRgb*>(halo.scanLine(y));
        for (int x = 0; x < w; ++x) {
            int a = 0;
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dx = -radius; dx <= radius; ++dx) {
                    const int yy = y + dy, xx = x + dx;
                    if (yy < 0 || yy >= h || xx < 0 || xx >= w ||
                        dx * dx + dy * dy > radius * radius)
                        continue;
                    a = std::max(
                        a, qAlpha(reinterpret_cast<const QRgb*>(glyph.constScanLine(yy))[xx]));
                }
            const int v = a * 120 / 255;
            out[x] = qRgba(v, v, v, v);
        }
    }
    QPainter p(&halo);
    p.drawImage(0, 0, glyph);
    return halo;
}

QImage render(int size, double grid, const Drawing& draw) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / grid, size / grid);
        draw(p);
    }
    return withHalo(img, std::max(1, int(std::lround(size / 20.0))));
}

// ---- Pieces -------------------------------------------------------------------

void envelope(QPainter& p, const QRectF& r, const QColor& body, const QColor& edge, double w) {
    p.setPen(ink(w, edge));
    p.setBrush(body);
    p.drawRoundedRect(r, w * 0.8, w * 0.8);
    QPainterPath flap;
    flap.moveTo(r.topLeft());
    flap.lineTo(r.center().x(), r.top() + r.height() * 0.6);
    flap.lineTo(r.topRight());
    p.setBrush(Qt::NoBrush);
    p.drawPath(flap);
}

// An envelope torn open, the letter standing out of it: a read message.
void openEnvelope(QPainter& p, const QRectF& r, double w) {
    const double mouth = r.top() + r.height() * 0.42;
    p.setPen(ink(w));
    p.setBrush(kPlain);
    QPainterPath back;
    back.moveTo(r.left(), mouth);
    back.lineTo(r.center().x(), r.top());
    back.lineTo(r.right(), mouth);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(kPaper);
    const double lw = r.width() * 0.3;
    p.drawRect(QRectF(r.center().x() - lw, r.top() + r.height() * 0.2, 2 * lw, r.height() * 0.5));
    QPainterPath front;
    front.moveTo(r.left(), mouth);
    front.lineTo(r.center().x(), r.top() + r.height() * 0.78);
    front.lineTo(r.right(), mouth);
    front.lineTo(r.bottomRight());
    front.lineTo(r.bottomLeft());
    front.closeSubpath();
    p.setBrush(kPlain);
    p.drawPath(front);
}

void disc(QPainter& p, const QPointF& c, double r, const QColor& fill, double w) {
    p.setPen(ink(w * 0.9, Qt::white));
    p.setBrush(fill);
    p.drawEllipse(c, r, r);
}

// A red cross over whatever lies below, with a white rim to part it from it.
void redCross(QPainter& p, const QPointF& c, double k, double width) {
    for (auto [pen, col] : {std::pair{width * 1.8, QColor(Qt::white)}, std::pair{width, kRed}}) {
        p.setPen(ink(pen, col));
        p.drawLine(c + QPointF(-k, -k), c + QPointF(k, k));
        p.drawLine(c + QPointF(-k, k), c + QPointF(k, -k));
    }
}

void star(QPainter& p, const QPointF& c, double r, const QColor& fill, double w) {
    QPainterPath s;
    for (int i = 0; i < 10; ++i) {
        const double a = -M_PI / 2 + i * M_PI / 5, rr = i % 2 ? r * 0.45 : r;
        const QPointF pt = c + QPointF(std::cos(a) * rr, std::sin(a) * rr);
        i ? s.lineTo(pt) : s.moveTo(pt);
    }
    s.closeSubpath();
    p.setPen(ink(w, kInk));
    p.setBrush(fill);
    p.drawPath(s);
}

// A thick stroke along `path`: a dark edge with `fill` inside it.
void tube(QPainter& p, const QPainterPath& path, double width, const QColor& fill, double w) {
    p.setBrush(Qt::NoBrush);
    p.setPen(ink(width + 2 * w));
    p.drawPath(path);
    p.setPen(ink(width, fill));
    p.drawPath(path);
}

// An arrow head at `tip` pointing along `dir` (a unit vector).
void head(QPainter& p, const QPointF& tip, const QPointF& dir, double len, const QColor& fill,
          double w) {
    const QPointF n(-dir.y(), dir.x());
    QPolygonF h{tip, tip - dir * len + n * len * 0.75, tip - dir * len - n * len * 0.75};
    p.setPen(ink(w));
    p.setBrush(fill);
    p.drawPolygon(h);
}

// A straight arrow from `from` to `to`.
void arrow(QPainter& p, const QPointF& from, const QPointF& to, double width, const QColor& fill,
           double w) {
    const QPointF d = to - from;
    const double len = std::hypot(d.x(), d.y());
    const QPointF u = d / len;
    const double hl = width * 2.0;
    QPainterPath shaft;
    shaft.moveTo(from);
    shaft.lineTo(to - u * hl * 0.9);
    tube(p, shaft, width, fill, w);
    head(p, to, u, hl, fill, w);
}

// An in-tray seen from the front, its top edge at r.top(); `letter` draws
// the sheet that stands in it before the tray's front covers its foot.
void tray(QPainter& p, const QRectF& r, double w, const std::function<void()>& letter = {}) {
    if (letter) letter();
    const double notch = r.height() * 0.35, in = r.width() * 0.28;
    QPainterPath t;
    t.moveTo(r.topLeft());
    t.lineTo(r.left() + in, r.top());
    t.lineTo(r.left() + in + notch * 0.5, r.top() + notch);
    t.lineTo(r.right() - in - notch * 0.5, r.top() + notch);
    t.lineTo(r.right() - in, r.top());
    t.lineTo(r.topRight());
    t.lineTo(r.bottomRight());
    t.lineTo(r.bottomLeft());
    t.closeSubpath();
    p.setPen(ink(w));
    p.setBrush(kTray);
    p.drawPath(t);
}

// A letter with two lines of writing.
void sheet(QPainter& p, const QRectF& r, const QColor& body, const QColor& edge, double w) {
    p.setPen(ink(w, edge));
    p.setBrush(body);
    p.drawRect(r);
    p.setPen(QPen(edge, w * 0.8));
    for (double y : {r.top() + r.height() * 0.3, r.top() + r.height() * 0.55})
        p.drawLine(QPointF(r.left() + 2 * w, y), QPointF(r.right() - 2 * w, y));
}

void magnifier(QPainter& p, const QPointF& c, double r, double w) {
    QPainterPath handle;
    const QPointF u(M_SQRT1_2, M_SQRT1_2);
    handle.moveTo(c + u * (r + w));
    handle.lineTo(c + u * (r * 2.05));
    tube(p, handle, r * 0.42, QColor(0x6D, 0x4C, 0x41), w);
    p.setPen(ink(w * 1.6));
    p.setBrush(QColor(0xD6, 0xEA, 0xF8));
    p.drawEllipse(c, r, r);
    p.setPen(ink(w * 0.9, Qt::white));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(c.x() - r * 0.6, c.y() - r * 0.6, r * 1.2, r * 1.2), 100 * 16, 70 * 16);
}

void clock(QPainter& p, const QPointF& c, double r, double w) {
    p.setPen(ink(w * 1.3));
    p.setBrush(kPaper);
    p.drawEllipse(c, r, r);
    p.setPen(ink(w));
    for (int i = 0; i < 12; i += 3) {
        const QPointF u(std::cos(i * M_PI / 6), std::sin(i * M_PI / 6));
        p.drawLine(c + u * r * 0.72, c + u * r * 0.86);
    }
    p.setPen(ink(w * 1.2));
    p.drawLine(c, c + QPointF(0, -r * 0.62));
    p.setPen(ink(w * 1.2, kRed));
    p.drawLine(c, c + QPointF(r * 0.5, r * 0.18));
}

// ---- List: status images and the attachment mark ------------------------------

const QRectF kEnv16(1.5, 3.5, 13, 9);
const QPointF kBadge16(12, 12);

void statusImage(QPainter& p, int image) {
    const double w = 1;
    switch (image) {
    case 0: // any status without its own image
        envelope(p, kEnv16, kPlain, kInk, w);
        return;
    case 1: // new
        envelope(p, kEnv16, kGold, kGoldInk, w);
        star(p, kBadge16, 3.9, kRed, 0.8);
        return;
    case 2: // read
        openEnvelope(p, QRectF(1.5, 1.5, 13, 12), w);
        return;
    case 4: // marked to be deleted: crossed out
        envelope(p, kEnv16, kPlain, kInk, w);
        redCross(p, kEnv16.center(), 4.5, 2);
        return;
    case 5: // unread
        envelope(p, kEnv16, kPaper, kInk, w);
        disc(p, kBadge16, 3.2, kBlue, w);
        return;
    case 7: // new, announced already
        envelope(p, kEnv16, kGold, kGoldInk, w);
        return;
    case 8: { // attachment: a paper clip
        p.translate(8, 8);
        p.rotate(40);
        p.translate(-8, -8);
        QPainterPath clip;
        clip.moveTo(7, 10.5);
        clip.lineTo(7, 4.5);
        clip.arcTo(QRectF(7, 3, 3, 3), 180, -180);
        clip.lineTo(10, 12.5);
        clip.arcTo(QRectF(5, 10, 5, 5), 0, -180);
        clip.lineTo(5, 3);
        p.setBrush(Qt::NoBrush);
        p.setPen(ink(2.8, kPaper));
        p.drawPath(clip);
        p.setPen(ink(1.3, kInk));
        p.drawPath(clip);
        return;
    }
    case 9: // deleted on the server, about to leave the list
        envelope(p, kEnv16, kGrey, QColor(0x4A, 0x50, 0x58), w);
        disc(p, kBadge16, 3.2, QColor(0x50, 0x56, 0x5E), w);
        p.setPen(ink(1.4, Qt::white));
        p.drawLine(kBadge16 + QPointF(-1.7, 0), kBadge16 + QPointF(1.7, 0));
        return;
    }
}

// ---- Tree: the root and the account nodes ---------------------------------------

const QRectF kTray16(1.5, 7.5, 13, 7);
const QPointF kTreeBadge(12.5, 4);

void treeImage(QPainter& p, int image) {
    const double w = 1;
    const QRectF letter(4.5, 1.5, 7, 9);
    switch (image) {
    case 0: // checked, nothing listed
        tray(p, kTray16, w);
        return;
    case 1: // new mail
        tray(p, kTray16, w, [&] { sheet(p, letter, kGold, kGoldInk, w); });
        star(p, kTreeBadge, 3.9, kRed, 0.8);
        return;
    case 2: // read mail only
        tray(p, kTray16, w, [&] { sheet(p, letter, kPaper, kInk, w); });
        return;
    case 4: { // the last check failed
        tray(p, kTray16, w);
        disc(p, QPointF(8, 4.8), 4.3, kRed, w);
        p.setPen(ink(1.6, Qt::white));
        p.drawLine(QPointF(8, 2.8), QPointF(8, 5.2));
        p.drawPoint(QPointF(8, 7.1));
        return;
    }
    case 5: // unread mail
        tray(p, kTray16, w, [&] { sheet(p, letter, kPaper, kInk, w); });
        disc(p, kTreeBadge, 3.2, kBlue, w);
        return;
    case 6: { // the root: every mailbox of the profile
        QLinearGradient g(0, 0, 0, 16);
        g.setColorAt(0, QColor(0x2E, 0x7D, 0xD2));
        g.setColorAt(1, QColor(0x15, 0x45, 0x8A));
        p.setPen(ink(w, QColor(0x0D, 0x2B, 0x57)));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
        envelope(p, QRectF(3.5, 4.5, 9, 7), kPaper, QColor(0x0D, 0x2B, 0x57), w);
        return;
    }
    case 7: // new mail, announced already
        tray(p, kTray16, w, [&] { sheet(p, letter, kGold, kGoldInk, w); });
        return;
    }
}

// ---- Toolbar ------------------------------------------------------------------------

void stackedTrays(QPainter& p, double w) {
    tray(p, QRectF(5.5, 10.5, 16, 7), w);
    tray(p, QRectF(2.5, 14.5, 16, 7), w);
}

void toolImage(QPainter& p, int command) {
    const double w = 1.2;
    switch (command) {
    case 40016: { // mark to be deleted
        envelope(p, QRectF(1.5, 3.5, 19, 13), kPlain, kInk, w);
        redCross(p, QPointF(16.5, 16.5), 4.5, 3);
        return;
    }
    case 40015: { // delete on the server now: a bin and a lightning bolt
        p.setPen(ink(w));
        p.setBrush(kPlain);
        QPolygonF bin{{4.5, 8}, {16.5, 8}, {15.2, 21.5}, {5.8, 21.5}};
        p.drawPolygon(bin);
        p.drawLine(QPointF(8.5, 11), QPointF(8.8, 19));
        p.drawLine(QPointF(12.5, 11), QPointF(12.2, 19));
        p.drawRoundedRect(QRectF(2.5, 5, 16, 3), 1, 1);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(8, 2.5, 5, 2.5), 1, 1);
        QPolygonF bolt{{17.5, 5},  {13.5, 14},   {17, 14}, {15, 22.5},
                       {22, 11.5}, {18.3, 11.5}, {20.8, 5}};
        p.setBrush(QColor(0xFF, 0xC1, 0x07));
        p.drawPolygon(bolt);
        return;
    }
    case 40028:   // reply: back to the sender
    case 40046: { // forward: on to someone else
        if (command == 40046) {
            p.translate(24, 0);
            p.scale(-1, 1);
        }
        envelope(p, QRectF(6.5, 2.5, 15, 11), kPaper, kInk, w);
        QPainterPath a;
        a.moveTo(19, 21.5);
        a.cubicTo(18, 15, 13, 14, 7, 14.5);
        tube(p, a, 2.6, command == 40028 ? kBlue : kGreen, w);
        head(p, QPointF(2.2, 14.8), QPointF(-1, 0.05), 6, command == 40028 ? kBlue : kGreen, w);
        return;
    }
    case 40029: { // compose: a page and a pencil
        p.setPen(ink(w));
        p.setBrush(kPaper);
        QPolygonF page{{4.5, 2.5}, {13.5, 2.5}, {17.5, 6.5}, {17.5, 21.5}, {4.5, 21.5}};
        p.drawPolygon(page);
        p.drawPolyline(QPolygonF{{13.5, 2.5}, {13.5, 6.5}, {17.5, 6.5}});
        p.setPen(ink(w, kGrey));
        for (double y : {9.5, 12.5, 15.5})
            p.drawLine(QPointF(7, y), QPointF(y < 15 ? 15 : 11, y));
        p.translate(17, 13);
        p.rotate(45);
        p.setPen(ink(w));
        p.setBrush(QColor(0xFF, 0xB3, 0x00));
        p.drawRect(QRectF(-2.2, -7, 4.4, 10));
        p.setBrush(QColor(0xF4, 0x8F, 0xB1));
        p.drawRect(QRectF(-2.2, -9.5, 4.4, 2.5));
        p.setBrush(QColor(0xF0, 0xD9, 0xB5));
        p.drawPolygon(QPolygonF{{-2.2, 3}, {2.2, 3}, {0, 7.5}});
        return;
    }
    case 40051: // find
        magnifier(p, QPointF(9.5, 9.5), 6.5, w);
        return;
    case 40052: // find next: downwards through the list
    case 40053: // find previous: upwards
        magnifier(p, QPointF(8.5, 8.5), 5.8, w);
        if (command == 40052)
            arrow(p, QPointF(18.5, 10.5), QPointF(18.5, 22.5), 2.4, kGreen, w);
        else
            arrow(p, QPointF(18.5, 22), QPointF(18.5, 10), 2.4, kGreen, w);
        return;
    case 40002: // automatic checking
        clock(p, QPointF(12, 12), 9.5, w);
        return;
    case 40033: { // the progress window
        p.setPen(ink(w));
        p.setBrush(kPaper);
        p.drawRect(QRectF(2.5, 4.5, 19, 15));
        p.setBrush(kBlue);
        p.drawRect(QRectF(2.5, 4.5, 19, 3.5));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5, 12, 14, 4.5));
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawRect(QRectF(5.6, 12.6, 8, 3.3));
        return;
    }
    case 1501: { // the e-mail client: a screen showing a letter
        p.setPen(ink(w));
        p.setBrush(QColor(0x45, 0x4A, 0x52));
        p.drawRoundedRect(QRectF(1.5, 2.5, 21, 15), 1.5, 1.5);
        p.drawRect(QRectF(9.5, 17.5, 5, 2.5));
        p.drawRoundedRect(QRectF(6.5, 20, 11, 1.8), 0.8, 0.8);
        p.setBrush(QColor(0xB3, 0xD4, 0xF5));
        p.drawRect(QRectF(3.5, 4.5, 17, 11));
        envelope(p, QRectF(6.5, 6.5, 11, 7), kGold, kGoldInk, w);
        return;
    }
    case 1502: // check the selected mailbox
        tray(p, QRectF(2.5, 13.5, 19, 8), w);
        arrow(p, QPointF(12, 1.5), QPointF(12, 16), 3, kBlue, w);
        return;
    case 1500: // check every mailbox
        stackedTrays(p, w);
        arrow(p, QPointF(12, 1), QPointF(12, 14.5), 3, kBlue, w);
        return;
    case 40020: // check the mailboxes included in automatic checking
        stackedTrays(p, w);
        arrow(p, QPointF(8, 1), QPointF(8, 14.5), 3, kBlue, w);
        clock(p, QPointF(18, 6), 5, 0.9);
        return;
    }
}

} // namespace

void MailboxIcons_Write(const QString& dir) {
    const auto save = [&](const char* kind, int id, int size, double grid, const Drawing& d) {
        render(size, grid, d)
            .save(dir + QStringLiteral("/%1-%2-%3.png").arg(kind).arg(id).arg(size));
    };
    for (int image : IMAGES_STATUS)
        for (int size : {IMAGES_LIST_SIZE, 2 * IMAGES_LIST_SIZE})
            save("status", image, size, 16, [&](QPainter& p) { statusImage(p, image); });
    for (int image : IMAGES_TREE)
        for (int size : {IMAGES_LIST_SIZE, 2 * IMAGES_LIST_SIZE})
            save("tree", image, size, 16, [&](QPainter& p) { treeImage(p, image); });
    for (int command : IMAGES_TOOLBAR)
        for (int size : {IMAGES_TOOL_SIZE, 2 * IMAGES_TOOL_SIZE})
            save("tool", command, size, 24, [&](QPainter& p) { toolImage(p, command); });
}
