// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ReadableLook.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

// Selected rows and focus marks as drawn: the selection under white text of the usual light theme
// and of a theme that is already dark enough (kept as it is), and the focus mark's pixels against
// the window.
TEST(ReadableLookTest, SelectionsAndFocusMarksStandOut) {
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    const QPalette light = fusion->standardPalette();
    ASSERT_LT(
        platform::ContrastRatio(light.color(QPalette::Highlight), light.color(QPalette::HighlightedText)),
        4.5);
    const QPalette readable = platform::ReadablePalette(light);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        EXPECT_GE(platform::ContrastRatio(readable.color(group, QPalette::Highlight),
                                          readable.color(group, QPalette::HighlightedText)),
                  4.5);
    }
    QPalette dark = light;
    dark.setColor(QPalette::Highlight, QColor(0x10, 0x30, 0x60));
    EXPECT_EQ(platform::ReadablePalette(dark).color(QPalette::Highlight), QColor(0x10, 0x30, 0x60));

    const std::unique_ptr<QStyle> style(platform::NewReadableStyle());
    QImage image(40, 20, QImage::Format_RGB32);
    const QColor window = readable.color(QPalette::Window);
    image.fill(window);
    QStyleOptionFocusRect focus;
    focus.rect = image.rect();
    focus.palette = readable;
    focus.state = QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    QPainter painter(&image);
    style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter);
    painter.end();
    int marked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel != window) {
                ++marked;
                EXPECT_GE(platform::ContrastRatio(pixel, window), 3.0) << x << "," << y;
            }
        }
    }
    EXPECT_GE(marked, 2 * (image.width() + image.height()) - 4);
}

// The banner's name and tag line, every colour of them, against the banner's background.
TEST(ReadableLookTest, TheBannerTextsStandOutFromTheirBackground) {
    QFile gif(QStringLiteral(":/Binary/ADFlash"));
    ASSERT_TRUE(gif.open(QIODevice::ReadOnly));
    QImageReader reader(&gif);
    const QImage frame = reader.read().convertToFormat(QImage::Format_RGB32);
    const QColor background(0x99, 0xCC, 0xFF);
    std::set<QRgb> colours;
    // The texts stand left of the clip strip, which starts at x 140.
    for (int y = 8; y < 52; ++y) {
        for (int x = 4; x < 136; ++x) {
            colours.insert(frame.pixel(x, y));
        }
    }
    colours.erase(background.rgb());
    ASSERT_FALSE(colours.empty());
    for (const QRgb colour : colours) {
        EXPECT_GE(platform::ContrastRatio(QColor(colour), background), 4.5)
            << QColor(colour).name().toStdString();
    }
}

}  // namespace
