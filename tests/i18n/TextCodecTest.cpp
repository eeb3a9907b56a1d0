// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/TextCodec.h"

#include <gtest/gtest.h>

#include <string>

using i18n::DecodeCharSet;

namespace {

const QChar kReplacement(0xFFFD);

struct DecodeCase {
    const char* name;
    int charSet;
    QByteArray bytes;
    QString expected;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeCharSetTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeCharSetTest, DecodesCodePageOfCharSet) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(DecodeCharSet(c.bytes, c.charSet), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, DecodeCharSetTest,
    ::testing::Values(DecodeCase{"Gbk", 134, "\xD6\xD0\xCE\xC4", QString::fromUtf8("中文")},
                      DecodeCase{"Big5", 136, "\xA4\xA4\xA4\xE5", QString::fromUtf8("中文")},
                      // 0x8740 exists only in the Windows variant of Shift_JIS.
                      DecodeCase{"ShiftJisWindowsVariant", 128, "\x82\xA0\x87\x40", QString::fromUtf8("あ①")},
                      DecodeCase{"Korean", 129, "\xC7\xD1", QString::fromUtf8("한")},
                      DecodeCase{"Russian", 204, "\xCF\xF0\xE8\xE2\xE5\xF2", QString::fromUtf8("Привет")},
                      DecodeCase{"Ansi", 0, "\x80 caf\xE9", QString::fromUtf8("€ café")},
                      DecodeCase{"Greek", 161, "\xE1", QString::fromUtf8("α")},
                      DecodeCase{"Turkish", 162, "\xFD", QString::fromUtf8("ı")},
                      DecodeCase{"Hebrew", 177, "\xE0", QString::fromUtf8("א")},
                      // Both code pages hold a letter back until they know no combining mark follows.
                      DecodeCase{"VietnameseLastLetter", 163, "a\xE0", QString::fromUtf8("aà")},
                      DecodeCase{"VietnameseCombined", 163, "a\xD2", QString::fromUtf8("\u1EA3")},
                      DecodeCase{"Arabic", 178, "\xC7", QString::fromUtf8("ا")},
                      DecodeCase{"Baltic", 186, "\xE0", QString::fromUtf8("ą")},
                      DecodeCase{"Thai", 222, "\xA1", QString::fromUtf8("ก")},
                      DecodeCase{"EastEurope", 238, "\xB9", QString::fromUtf8("ą")},
                      DecodeCase{"DefaultIsUtf8", 1, "\xE4\xB8\xAD", QString::fromUtf8("中")},
                      DecodeCase{"UnknownIsUtf8", 77, "\xE4\xB8\xAD", QString::fromUtf8("中")},
                      DecodeCase{"Empty", 134, "", QString()}),
    [](const ::testing::TestParamInfo<DecodeCase>& testInfo) { return std::string(testInfo.param.name); });

INSTANTIATE_TEST_SUITE_P(
    BadBytes, DecodeCharSetTest,
    ::testing::Values(DecodeCase{"UndefinedByteMarked", 0, "a\x81z", QString("a") + kReplacement + "z"},
                      DecodeCase{"InvalidLeadByteMarked", 134, "A\xFF\xD6\xD0",
                                 QString("A") + kReplacement + QString::fromUtf8("中")},
                      DecodeCase{"CutOffAtEndMarked", 134, "\xD6\xD0\xD6",
                                 QString::fromUtf8("中") + kReplacement},
                      DecodeCase{"EveryBadByteMarked", 204, "\x98\x98", QString(2, kReplacement)},
                      DecodeCase{"InvalidUtf8Marked", 1, "a\xFFz", QString("a") + kReplacement + "z"}),
    [](const ::testing::TestParamInfo<DecodeCase>& testInfo) { return std::string(testInfo.param.name); });

TEST(DecodeCharSetLength, TextLongerThanOneConversionBuffer) {
    const QByteArray gbk =
        QByteArray("\xD6\xD0").repeated(3000) + "\xFF" + QByteArray("\xCE\xC4").repeated(3000);
    const QString expected =
        QString::fromUtf8("中").repeated(3000) + kReplacement + QString::fromUtf8("文").repeated(3000);
    EXPECT_EQ(DecodeCharSet(gbk, 134), expected);
}

}  // namespace
