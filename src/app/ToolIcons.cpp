// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ToolIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace {

const QColor kInk(0x2f, 0x4f, 0x7f);
const QColor kAccent(0x3f, 0x9f, 0x5f);
const QColor kWarn(0xc0, 0x40, 0x30);

// A sheet of paper with a folded corner: the audio file that several pictures start from.
void DrawSheet(QPainter& p, const QRectF& r) {
    QPainterPath sheet;
    const qreal fold = r.width() * 0.3;
    sheet.moveTo(r.left(), r.top());
    sheet.lineTo(r.right() - fold, r.top());
    sheet.lineTo(r.right(), r.top() + fold);
    sheet.lineTo(r.right(), r.bottom());
    sheet.lineTo(r.left(), r.bottom());
    sheet.closeSubpath();
    p.setPen(QPen(kInk, r.width() / 12));
    p.setBrush(Qt::white);
    p.drawPath(sheet);
    // A small waveform on the sheet.
    QPainterPath wave;
    const qreal mid = r.center().y() + r.height() * 0.1;
    wave.moveTo(r.left() + r.width() * 0.15, mid);
    const qreal step = r.width() * 0.7 / 6;
    for (int i = 1; i <= 6; ++i) {
        const qreal amp = (i % 2 == 0 ? -1 : 1) * r.height() * (0.08 + 0.05 * (i % 3));
        wave.lineTo(r.left() + r.width() * 0.15 + step * i, mid + amp);
    }
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
}

void DrawBadge(QPainter& p, const QPointF& c, qreal radius, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(c, radius, radius);
    p.setPen(QPen(Qt::white, radius / 3, Qt::SolidLine, Qt::RoundCap));
}

void DrawArrow(QPainter& p, qreal s, bool up) {
    QPainterPath arrow;
    const qreal y0 = up ? s * 0.2 : s * 0.8;
    const qreal y1 = up ? s * 0.55 : s * 0.45;
    arrow.moveTo(s * 0.5, y0);
    arrow.lineTo(s * 0.85, y1);
    arrow.lineTo(s * 0.65, y1);
    arrow.lineTo(s * 0.65, up ? s * 0.85 : s * 0.15);
    arrow.lineTo(s * 0.35, up ? s * 0.85 : s * 0.15);
    arrow.lineTo(s * 0.35, y1);
    arrow.lineTo(s * 0.15, y1);
    arrow.closeSubpath();
    p.setPen(QPen(kInk, s / 16));
    p.setBrush(kAccent);
    p.drawPath(arrow);
}

void Draw(QPainter& p, ToolIcon kind, qreal s) {
    const QRectF sheet(s * 0.12, s * 0.06, s * 0.6, s * 0.8);
    switch (kind) {
        case ToolIcon::Add: {
            DrawSheet(p, sheet);
            const QPointF c(s * 0.72, s * 0.72);
            DrawBadge(p, c, s * 0.22, kAccent);
            p.drawLine(QPointF(c.x() - s * 0.12, c.y()), QPointF(c.x() + s * 0.12, c.y()));
            p.drawLine(QPointF(c.x(), c.y() - s * 0.12), QPointF(c.x(), c.y() + s * 0.12));
            break;
        }
        case ToolIcon::Remove: {
            DrawSheet(p, sheet);
            const QPointF c(s * 0.72, s * 0.72);
            DrawBadge(p, c, s * 0.22, kWarn);
            p.drawLine(QPointF(c.x() - s * 0.12, c.y()), QPointF(c.x() + s * 0.12, c.y()));
            break;
        }
        case ToolIcon::Clear: {
            DrawSheet(p, QRectF(s * 0.06, s * 0.02, s * 0.5, s * 0.66));
            DrawSheet(p, QRectF(s * 0.2, s * 0.14, s * 0.5, s * 0.66));
            const QPointF c(s * 0.72, s * 0.72);
            DrawBadge(p, c, s * 0.22, kWarn);
            p.drawLine(QPointF(c.x() - s * 0.09, c.y() - s * 0.09),
                       QPointF(c.x() + s * 0.09, c.y() + s * 0.09));
            p.drawLine(QPointF(c.x() - s * 0.09, c.y() + s * 0.09),
                       QPointF(c.x() + s * 0.09, c.y() - s * 0.09));
            break;
        }
        case ToolIcon::Join: {
            // Two strips of sound meeting in one.
            p.setPen(QPen(kInk, s / 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            QPainterPath upper, lower;
            upper.moveTo(s * 0.08, s * 0.22);
            upper.cubicTo(s * 0.4, s * 0.22, s * 0.4, s * 0.5, s * 0.6, s * 0.5);
            lower.moveTo(s * 0.08, s * 0.78);
            lower.cubicTo(s * 0.4, s * 0.78, s * 0.4, s * 0.5, s * 0.6, s * 0.5);
            p.drawPath(upper);
            p.drawPath(lower);
            p.setPen(QPen(kAccent, s / 9, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(s * 0.6, s * 0.5), QPointF(s * 0.88, s * 0.5));
            p.drawLine(QPointF(s * 0.76, s * 0.38), QPointF(s * 0.9, s * 0.5));
            p.drawLine(QPointF(s * 0.76, s * 0.62), QPointF(s * 0.9, s * 0.5));
            break;
        }
        case ToolIcon::Language: {
            const QPointF c(s * 0.5, s * 0.5);
            const qreal r = s * 0.4;
            p.setPen(QPen(kInk, s / 16));
            p.setBrush(QColor(0xdd, 0xea, 0xf7));
            p.drawEllipse(c, r, r);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, r * 0.45, r);
            p.drawLine(QPointF(c.x() - r, c.y()), QPointF(c.x() + r, c.y()));
            p.drawLine(QPointF(c.x(), c.y() - r), QPointF(c.x(), c.y() + r));
            p.drawLine(QPointF(c.x() - r * 0.85, c.y() - r * 0.5),
                       QPointF(c.x() + r * 0.85, c.y() - r * 0.5));
            p.drawLine(QPointF(c.x() - r * 0.85, c.y() + r * 0.5),
                       QPointF(c.x() + r * 0.85, c.y() + r * 0.5));
            break;
        }
        case ToolIcon::About: {
            const QPointF c(s * 0.5, s * 0.5);
            DrawBadge(p, c, s * 0.4, kInk);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawEllipse(QPointF(c.x(), s * 0.3), s * 0.06, s * 0.06);
            p.drawRoundedRect(QRectF(c.x() - s * 0.055, s * 0.42, s * 0.11, s * 0.34), s * 0.03, s * 0.03);
            break;
        }
        case ToolIcon::Update: {
            p.setPen(QPen(kAccent, s / 9, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            const QRectF ring(s * 0.16, s * 0.16, s * 0.68, s * 0.68);
            p.drawArc(ring, 100 * 16, 280 * 16);
            QPainterPath head;
            head.moveTo(s * 0.38, s * 0.02);
            head.lineTo(s * 0.6, s * 0.16);
            head.lineTo(s * 0.38, s * 0.3);
            head.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(kAccent);
            p.drawPath(head);
            break;
        }
        case ToolIcon::Up:
            DrawArrow(p, s, true);
            break;
        case ToolIcon::Down:
            DrawArrow(p, s, false);
            break;
    }
}

// An icon drawn at one and at two device pixels per pixel, so it stays sharp on dense screens.
QIcon RenderIcon(int size, const std::function<void(QPainter&, qreal)>& draw) {
    QIcon icon;
    for (const qreal scale : {1.0, 2.0}) {
        QPixmap pixmap(qRound(size * scale), qRound(size * scale));
        pixmap.fill(Qt::transparent);
        pixmap.setDevicePixelRatio(scale);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, size);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void DrawFileType(QPainter& painter, const QString& label, qreal s) {
    painter.setPen(QPen(kInk, 1));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(s * 0.15, 0.5, s * 0.7, s - 1));
    painter.setPen(Qt::NoPen);
    painter.setBrush(label.compare(QLatin1String("WAV"), Qt::CaseInsensitive) == 0   ? kAccent
                     : label.compare(QLatin1String("MP3"), Qt::CaseInsensitive) == 0 ? kInk
                                                                                     : kWarn);
    painter.drawRect(QRectF(0, s * 0.45, s, s * 0.4));
    QFont font = painter.font();
    font.setPixelSize(qMax(5, qRound(s * 5 / 16)));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, s * 0.45, s, s * 0.4), Qt::AlignCenter, label.left(3).toUpper());
}

}  // namespace

QIcon MakeToolIcon(ToolIcon kind, int size) {
    return RenderIcon(size, [kind](QPainter& painter, qreal s) { Draw(painter, kind, s); });
}

QIcon MakeFileTypeIcon(const QString& label, int size) {
    return RenderIcon(size, [&label](QPainter& painter, qreal s) { DrawFileType(painter, label, s); });
}
