#include "ui/main/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor kInk(0x2e, 0x34, 0x36);
const QColor kPaper(0xfd, 0xfd, 0xfb);
const QColor kBlue(0x34, 0x65, 0xa4);
const QColor kGreen(0x4e, 0x9a, 0x06);
const QColor kRed(0xcc, 0x00, 0x00);
const QColor kAmber(0xed, 0xd4, 0x00);
const QColor kFolder(0xc1, 0x7d, 0x11);

// Everything is drawn on a 32-unit grid and scaled.
void Page(QPainter& p) {
    QPainterPath path;
    path.moveTo(7, 3);
    path.lineTo(20, 3);
    path.lineTo(26, 9);
    path.lineTo(26, 29);
    path.lineTo(7, 29);
    path.closeSubpath();
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawLine(QPointF(20, 3), QPointF(20, 9));
    p.drawLine(QPointF(20, 9), QPointF(26, 9));
}

void Plus(QPainter& p, QPointF c, double r, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(c, r, r);
    p.setPen(QPen(Qt::white, r / 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x() - r / 2, c.y()), QPointF(c.x() + r / 2, c.y()));
    p.drawLine(QPointF(c.x(), c.y() - r / 2), QPointF(c.x(), c.y() + r / 2));
}

void Controller(QPainter& p) {
    // The controller box with its reader window.
    p.setPen(QPen(kInk, 1.5));
    p.setBrush(QColor(0xba, 0xbd, 0xb6));
    p.drawRoundedRect(QRectF(14, 10, 15, 20), 2, 2);
    p.setBrush(kBlue);
    p.drawRect(QRectF(17, 13, 9, 5));
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(21.5, 24), 2, 2);
}

void Key(QPainter& p, QPointF at, double s, const QColor& color) {
    p.save();
    p.translate(at);
    p.scale(s, s);
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(color);
    p.drawEllipse(QPointF(5, 5), 4.5, 4.5);
    p.setBrush(kPaper);
    p.drawEllipse(QPointF(4, 4), 1.5, 1.5);
    p.setBrush(color);
    p.drawRect(QRectF(9, 4, 11, 2.5));
    p.drawRect(QRectF(16, 6.5, 2, 3));
    p.drawRect(QRectF(12.5, 6.5, 2, 2));
    p.restore();
}

void Magnifier(QPainter& p, QPointF c, double r) {
    p.setPen(QPen(kInk, r / 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x() + r * 0.7, c.y() + r * 0.7),
               QPointF(c.x() + r * 1.7, c.y() + r * 1.7));
    p.setPen(QPen(kInk, r / 5));
    p.setBrush(QColor(0xd3, 0xe4, 0xf5, 220));
    p.drawEllipse(c, r, r);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
    p.setPen(QPen(color, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(from, to);
    const QPointF d = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF n(-d.y(), d.x());
    QPolygonF head;
    head << to + d * 3 << to - d * 3 + n * 4 << to - d * 3 - n * 4;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(head);
}

void Draw(QPainter& p, AppIcon kind) {
    switch (kind) {
        case AppIcon::New:
            Page(p);
            Plus(p, QPointF(23, 24), 6.5, kGreen);
            break;
        case AppIcon::Open: {
            p.setPen(QPen(kInk, 1.5));
            p.setBrush(kFolder.darker(115));
            p.drawRect(QRectF(3, 7, 24, 20));
            p.drawRect(QRectF(3, 5, 10, 3));
            p.setBrush(kFolder.lighter(130));
            QPolygonF front;
            front << QPointF(7, 13) << QPointF(30, 13) << QPointF(26, 27) << QPointF(3, 27);
            p.drawPolygon(front);
            break;
        }
        case AppIcon::Export:
            Page(p);
            p.scale(1, 1);
            Controller(p);
            Arrow(p, QPointF(3, 20), QPointF(11, 20), kBlue);
            break;
        case AppIcon::Sync:
            Controller(p);
            Magnifier(p, QPointF(10, 10), 6.5);
            break;
        case AppIcon::Add:
            Key(p, QPointF(2, 8), 1.2, kAmber);
            Plus(p, QPointF(23, 23), 7, kGreen);
            break;
        case AppIcon::Edit:
            Key(p, QPointF(2, 4), 1.1, kAmber);
            p.setPen(QPen(kInk, 1.2));
            p.setBrush(kBlue);
            {
                QPolygonF pencil;
                pencil << QPointF(26, 12) << QPointF(30, 16) << QPointF(16, 30) << QPointF(11, 31)
                       << QPointF(12, 26);
                p.drawPolygon(pencil);
            }
            break;
        case AppIcon::Delete:
            Key(p, QPointF(2, 4), 1.1, kAmber);
            p.setPen(Qt::NoPen);
            p.setBrush(kRed);
            p.drawEllipse(QPointF(23, 23), 7, 7);
            p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(20, 20), QPointF(26, 26));
            p.drawLine(QPointF(26, 20), QPointF(20, 26));
            break;
        case AppIcon::Find:
            Key(p, QPointF(2, 3), 1.1, kAmber);
            Magnifier(p, QPointF(20, 19), 6.5);
            break;
        case AppIcon::Help:
        case AppIcon::About: {
            p.setPen(Qt::NoPen);
            p.setBrush(kBlue);
            p.drawEllipse(QPointF(16, 16), 13, 13);
            QFont f;
            f.setPixelSize(20);
            f.setBold(true);
            p.setFont(f);
            p.setPen(Qt::white);
            p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter,
                       kind == AppIcon::Help ? QStringLiteral("?") : QStringLiteral("i"));
            break;
        }
        case AppIcon::Exit:
            p.setPen(QPen(kInk, 1.5));
            p.setBrush(QColor(0x8f, 0x59, 0x02));
            p.drawRect(QRectF(6, 3, 14, 26));
            Arrow(p, QPointF(14, 16), QPointF(26, 16), kRed);
            break;
        case AppIcon::App:
            p.setPen(Qt::NoPen);
            p.setBrush(kBlue);
            p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
            Key(p, QPointF(3, 10), 1.2, kAmber);
            break;
    }
}

QPixmap Render(AppIcon kind, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    Draw(p, kind);
    return pm;
}

}  // namespace

QIcon MakeIcon(AppIcon kind) {
    QIcon icon;
    for (int size : {16, 22, 32, 48}) {
        icon.addPixmap(Render(kind, size));
        // The disabled look: the same drawing, faded, so a disabled button still shows
        // what it is for.
        QPixmap faded(size, size);
        faded.fill(Qt::transparent);
        QPainter p(&faded);
        p.setOpacity(0.35);
        p.drawPixmap(0, 0, Render(kind, size));
        p.end();
        icon.addPixmap(faded, QIcon::Disabled);
    }
    return icon;
}
