// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/NaturalOrder.h"

#include <gtest/gtest.h>

namespace {

TEST(NaturalOrderTest, NumbersByValueCaseIgnoredFoldersFirstEqualKeysKeepTheirOrder) {
    QStringList paths{
        QStringLiteral("/b/Track 10b.mp3"), QStringLiteral("/b/track10.mp3"),
        QStringLiteral("/b/Track 2.mp3"),   QStringLiteral("/a10/x.wav"),
        QStringLiteral("/a9/z.wav"),        QStringLiteral("/b/track 007.wav"),
        QStringLiteral("/b/Track 7.wav"),   QStringLiteral("/b/sub/a.mp3"),
        QStringLiteral("/b/track1.mp3"),
    };
    SortPathsNaturally(paths);
    const QStringList expected{
        QStringLiteral("/a9/z.wav"),        QStringLiteral("/a10/x.wav"),
        QStringLiteral("/b/track1.mp3"),    QStringLiteral("/b/Track 2.mp3"),
        QStringLiteral("/b/track 007.wav"), QStringLiteral("/b/Track 7.wav"),
        QStringLiteral("/b/track10.mp3"),   QStringLiteral("/b/Track 10b.mp3"),
        QStringLiteral("/b/sub/a.mp3"),
    };
    EXPECT_EQ(paths, expected);
}

}  // namespace
