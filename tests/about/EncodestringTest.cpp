// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Encodestring.h"

#include <QSet>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

TEST(DecodeStringTest, BothAlphabetsHoldEveryPrintableCharacterOnce) {
    // A repeated or missing character would make some address impossible to store.
    ASSERT_EQ(kDecodeTable.size(), 190u);
    for (const std::string_view alphabet : {kDecodeTable.substr(0, 95), kDecodeTable.substr(95)}) {
        QSet<char> seen;
        for (const char c : alphabet) {
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << int(c);
            seen.insert(c);
        }
        EXPECT_EQ(seen.size(), 95);
    }
}

TEST(DecodeStringTest, StoredHomePageIsAnAddressUnderTheReservedDomain) {
    const QString address = DecodeString(QLatin1String(kEncodedHomePage));
    EXPECT_EQ(address, QStringLiteral("https://www.verdane.example/"));
    const QUrl url(address);
    EXPECT_TRUE(url.isValid());
    EXPECT_TRUE(url.host().endsWith(QLatin1String(".example")));
}

TEST(DecodeStringTest, EveryCharacterGivesOneCharacter) {
    const QChar last = QLatin1Char(kDecodeTable[94]);
    EXPECT_EQ(DecodeString(QString()), QString());
    // Characters outside the source alphabet, including ones whose Latin-1 form would be 0.
    for (const QString& foreign : {QStringLiteral("\t"), QString(QChar(0)), QString::fromUtf8("\xC3\xA9"),
                                   QString::fromUtf8("\xE2\x82\xAC"), QString::fromUtf8("\xE6\xB7\xBB")}) {
        EXPECT_EQ(DecodeString(foreign), QString(last)) << foreign.toStdString();
    }
    const QString mixed = QLatin1String(kEncodedHomePage) + QStringLiteral("\n");
    const QString decoded = DecodeString(mixed);
    ASSERT_EQ(decoded.size(), mixed.size());
    EXPECT_EQ(decoded.back(), last);
    // The first character of the source alphabet maps to the last of the target alphabet as well.
    EXPECT_EQ(DecodeString(QString(QLatin1Char(kDecodeTable[95]))), QString(last));
}

}  // namespace
