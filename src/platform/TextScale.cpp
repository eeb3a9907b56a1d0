// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TextScale.h"

#include <QApplication>
#include <QScreen>

#include <algorithm>

namespace platform {

namespace {

// The desktops the windows were drawn beside show 9-point text at 96 dots per inch, 12 pixels high;
// Qt gives the same font where the desktop names none.
constexpr qreal kDesignDpi = 96;
constexpr qreal kDesignFontPixels = 9 * kDesignDpi / 72;

qreal ScreenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInchY() : kDesignDpi;
}

}  // namespace

qreal TextScale() {
    // The application's font is the desktop's until someone sets another.
    const QFont font = QApplication::font();
    const qreal pixels = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * ScreenDpi() / 72;
    return std::max<qreal>(1, pixels / kDesignFontPixels);
}

int Scaled(int designPixels) {
    return qRound(designPixels * TextScale());
}

QPoint Scaled(const QPoint& design) {
    return QPoint(Scaled(design.x()), Scaled(design.y()));
}

QSize Scaled(const QSize& design) {
    return QSize(Scaled(design.width()), Scaled(design.height()));
}

QRect Scaled(const QRect& design) {
    return QRect(Scaled(design.left()), Scaled(design.top()), Scaled(design.width()),
                 Scaled(design.height()));
}

qreal ScaledPointSize(qreal designPoints) {
    return designPoints * TextScale() * kDesignDpi / ScreenDpi();
}

QFont DesignFont(const QString& family, qreal designPoints) {
    QFont font(family);
    font.setPointSizeF(ScaledPointSize(designPoints));
    return font;
}

}  // namespace platform
