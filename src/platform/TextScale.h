// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace platform {

// How much larger than the windows were drawn for the desktop draws its text: 1 at an ordinary
// desktop font (9 points at 96 dots per inch) or a smaller one, 1.5 where the desktop's font or its
// resolution makes text half as large again. The windows' fixed sizes, places and fonts grow by it,
// so a larger desktop font never cuts a text; a scaled display (QT_SCALE_FACTOR) already scales
// everything and leaves it at 1.
qreal TextScale();

// A length of the windows' design, in pixels at the desktop's text size.
int Scaled(int designPixels);
QPoint Scaled(const QPoint& design);
QSize Scaled(const QSize& design);
QRect Scaled(const QRect& design);

// A font of the design, given in points at 96 dots per inch, at the desktop's text size: the same
// point size on an ordinary desktop.
qreal ScaledPointSize(qreal designPoints);
QFont DesignFont(const QString& family, qreal designPoints);

}  // namespace platform
