// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace i18n {

// Windows font character-set numbers used by language files.
constexpr int CHARSET_ANSI = 0;
constexpr int CHARSET_DEFAULT = 1;  // read as UTF-8
constexpr int CHARSET_SHIFTJIS = 128;
constexpr int CHARSET_HANGUL = 129;
constexpr int CHARSET_JOHAB = 130;
constexpr int CHARSET_GB2312 = 134;
constexpr int CHARSET_CHINESEBIG5 = 136;
constexpr int CHARSET_GREEK = 161;
constexpr int CHARSET_TURKISH = 162;
constexpr int CHARSET_VIETNAMESE = 163;
constexpr int CHARSET_HEBREW = 177;
constexpr int CHARSET_ARABIC = 178;
constexpr int CHARSET_BALTIC = 186;
constexpr int CHARSET_RUSSIAN = 204;
constexpr int CHARSET_THAI = 222;
constexpr int CHARSET_EASTEUROPE = 238;

// The iconv encoding name for a character set (134 "GBK", 136 "CP950" or else "BIG5", 128 "CP932"
// or else "SHIFT_JIS", 129 "CP949", 204 "CP1251", 0 "CP1252", 161 "CP1253", 238 "CP1250", ...;
// 1 and unknown numbers "UTF-8").
const char* EncodingForCharSet(int charSet);

// Decodes bytes written in the code page of charSet. Bytes that cannot be decoded become U+FFFD;
// nothing is dropped silently.
QString DecodeCharSet(const QByteArray& bytes, int charSet);

}  // namespace i18n
