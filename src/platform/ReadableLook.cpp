// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReadableLook.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

constexpr double kTextContrast = 4.5;
constexpr double kMarkContrast = 3.0;

double Linear(double channel) {
    return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& colour) {
    return 0.2126 * Linear(colour.redF()) + 0.7152 * Linear(colour.greenF()) +
           0.0722 * Linear(colour.blueF());
}

// The style's focus marks are faint by design (Fusion blends its highlight into the window); this
// one draws them solid, where and when the style would draw them: after a key moved the focus.
class ReadableFocusStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_FrameFocusRect || (option->state & State_KeyboardFocusChange) == 0) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->setPen(QPen(FocusMarkColour(option->palette), 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
};

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor WithContrast(const QColor& colour, const QColor& against, double ratio) {
    const bool darken = Luminance(against) > 0.18;
    QColor result = colour.toHsl();
    for (int step = 0; step < 100 && ContrastRatio(result, against) < ratio; ++step) {
        const double lightness = result.lightnessF();
        result.setHslF(result.hslHueF(), result.hslSaturationF(),
                       std::clamp(darken ? lightness - 0.01 : lightness + 0.01, 0.0, 1.0));
    }
    return result.toRgb();
}

QPalette ReadablePalette(QPalette palette) {
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        const QColor text = palette.color(group, QPalette::HighlightedText);
        // The selection moves away from its text: darker under light text, lighter under dark.
        const QColor highlight = palette.color(group, QPalette::Highlight);
        palette.setColor(group, QPalette::Highlight, WithContrast(highlight, text, kTextContrast));
    }
    return palette;
}

QColor FocusMarkColour(const QPalette& palette) {
    return WithContrast(palette.color(QPalette::Highlight), palette.color(QPalette::Window), kMarkContrast);
}

QStyle* NewReadableStyle() {
    // The proxy owns its base: a fresh copy of the style Qt chose (or "-style" named).
    return new ReadableFocusStyle(QStyleFactory::create(QApplication::style()->name()));
}

void InstallReadableLook() {
    // A new style brings its own palette, so the palette comes after it.
    QApplication::setStyle(NewReadableStyle());
    QApplication::setPalette(ReadablePalette(QApplication::palette()));
}

}  // namespace platform
